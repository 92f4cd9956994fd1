#pragma once
// One request/reply frame of an adapter: built from a request packet, then
// receiving, checking and parsing the reply. The three message kinds differ
// only in framing, which they supply through the virtual operations below.
//
// Thread safety: a message belongs to one request and is used by one thread
// at a time (the caller's while it is built, the worker's afterwards).
#include "driver/number_text.h"
#include "driver/reply_match.h"
#include "driver/request_packet.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace plcdrv {

class ModbusMessage {
public:
    static constexpr std::size_t kFrameCapacity = 1024;
    static constexpr std::uint8_t kFillByte = 0xCD;

    virtual ~ModbusMessage();
    ModbusMessage(const ModbusMessage&) = delete;
    ModbusMessage& operator=(const ModbusMessage&) = delete;

    // Fills the reply data from a reply that checkReply() accepted. Never
    // reads past the received bytes, whatever the reply's count byte says.
    virtual void parseReply() = 0;
    // 1 for a valid reply without exception, else 0. The exception code is
    // set when the reply is a well-formed exception and 0 otherwise, so
    // 0 with exception code 0 means there is no valid reply. A reply is
    // valid only as the answer to the request set with setRequest(): from
    // the request's slave (serial kinds) and fitting it by plcdrv::fitReply.
    virtual int checkReply() = 0;
    virtual std::uint8_t replySlaveAddress() const = 0;
    virtual std::uint8_t replyFunctionCode() const = 0;
    // 0xFFFF when bit `index` of the reply data is set (low bit first).
    virtual std::uint16_t bitValue(int index) const;
    // Reply data bytes 2*index (high) and 2*index+1 (low).
    virtual std::uint16_t wordValue(int index) const;
    // `count` reply data bytes from `start` as characters.
    virtual std::string byteText(int start, int count) const;
    // Adds one byte to the request frame, encoded for the kind.
    virtual void appendByte(std::uint8_t value) = 0;
    // Adds the frame's check and end.
    virtual void finishFrame() = 0;
    // Whether the bytes received so far form a whole reply.
    virtual bool replyComplete() const = 0;
    // Starts the frame with the address part of a route text "a.b.c.d.e".
    virtual void setAddress(std::string_view route) = 0;

    // The request the reply has to answer: the slave address and the PDU
    // (function code first) as the frame carries them. The request frame
    // itself is gone once the buffer receives the reply.
    void setRequest(std::uint8_t slave, std::span<const std::uint8_t> pdu);

    // Clears complete, fills the buffer with 0xCD, empties frame and reply data.
    void reset();
    // Appends one received reply byte; false (and nothing stored) when the
    // buffer is full, which ends the reply as incomplete.
    bool receiveByte(std::uint8_t value);

    const std::uint8_t* frame() const { return frame_.data(); }
    std::uint8_t* frame() { return frame_.data(); }
    std::uint16_t frameLength() const { return frameLength_; }
    bool complete() const { return complete_ != 0; }
    void setComplete(bool complete) { complete_ = complete ? 1 : 0; }
    std::uint8_t exceptionCode() const { return exceptionCode_; }
    const std::uint8_t* replyData() const { return replyData_.get(); }
    std::uint16_t replyDataCount() const { return replyDataCount_; }
    // The reply's count byte as it arrived, set by parseReply(). It is the
    // caller's replyCount even where it is no byte count (the exception
    // status of function 7, the address high byte of an echo) or promises
    // more than replyDataCount() holds.
    std::uint8_t replyCountField() const { return replyCountField_; }

protected:
    ModbusMessage();
    // Appends a request byte as it is; dropped when the buffer is full (a
    // request never comes near 1024 bytes).
    void putFrameByte(std::uint8_t value);
    // Replaces the reply data with `count` bytes from `source`.
    void setReplyData(const std::uint8_t* source, std::size_t count);
    // Keeps a reply data block of `capacity` bytes ready for parseReply().
    void reserveReplyData(std::size_t capacity);
    // Whether a received reply answers the request: its slave address (the
    // serial kinds) and its PDU.
    bool fromRequestedSlave(std::uint8_t slave) const { return slave == requestSlave_; }
    ReplyFit fitToRequest(std::span<const std::uint8_t> replyPdu, ReplyExtent extent) const;

    std::array<std::uint8_t, kFrameCapacity> frame_;
    std::uint16_t frameLength_ = 0;
    int complete_ = 0;
    std::uint8_t exceptionCode_ = 0;
    std::uint8_t replyCountField_ = 0;
    NumberText numbers_;

private:
    std::array<std::uint8_t, MaxPduLength> request_{};
    std::size_t requestLength_ = 0; // none set: no reply fits
    std::uint8_t requestSlave_ = 0;
    std::unique_ptr<std::uint8_t[]> replyData_;
    std::size_t replyDataCapacity_ = 0;
    std::uint16_t replyDataCount_ = 0;
};

} // namespace plcdrv
