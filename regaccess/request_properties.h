#pragma once
// The values of the control's RegType and Function properties, for the
// control and every program that sets them. Plain enumerations: the
// properties are ints at the host boundary, and these values are what hosts
// store.
namespace regaccess {

// RegType: the Modbus data table a read or write addresses.
enum RegType : int {
    RegTypeCoils = 0,     // 0xxxx
    RegTypeInputBits = 1, // 1xxxx
    RegTypeInputRegs = 2, // 3xxxx
    RegTypeHoldRegs = 3,  // 4xxxx
};

// Function: which request Trigger() builds (request_builder.h says how).
enum Function : int {
    FunctionRead = 0,  // the RegType table, Size points from Address
    FunctionWrite = 1, // coils or holding registers
    FunctionExceptionStatus = 2,
    FunctionSlaveId = 3,
    FunctionDisabledPoints = 4,    // disabled coils (RegTypeCoils) or inputs (RegTypeInputBits)
    FunctionAdapterStatistics = 5, // the Modbus Plus adapter's own
    FunctionClearAdapterStatistics = 6,
    FunctionReadAdapterTable = 7,
    FunctionWriteAdapterTable = 8,
    FunctionNetworkStatistics = 9, // the Modbus Plus station's, by Diagnostics
    FunctionClearNetworkStatistics = 10,
    FunctionReadNetworkTable = 11,
    FunctionWriteNetworkTable = 12,
};

} // namespace regaccess
