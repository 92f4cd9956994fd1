#include "web/tls_material.h"

#include "platform/safe_file.h"

#include <QDir>
#include <QFileInfo>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace chronel {

namespace {

struct Free {
    void operator()(BIO* p) const { BIO_free(p); }
    void operator()(X509* p) const { X509_free(p); }
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
    void operator()(BIGNUM* p) const { BN_free(p); }
    void operator()(X509_EXTENSION* p) const { X509_EXTENSION_free(p); }
};
template <typename T> using Owned = std::unique_ptr<T, Free>;

QString OpenSslError()
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return QStringLiteral("OpenSSL gave no reason");
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return QString::fromLatin1(text);
}

QByteArray Pem(const std::function<int(BIO*)>& write)
{
    Owned<BIO> bio(BIO_new(BIO_s_mem()));
    if (!bio || write(bio.get()) != 1)
        return {};
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return size > 0 ? QByteArray(data, size) : QByteArray();
}

QString Fingerprint(X509* certificate)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(certificate, EVP_sha256(), digest, &length) != 1)
        return {};
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(digest), int(length)).toHex(':').toUpper());
}

bool AddExtension(X509* certificate, int nid, const char* value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    Owned<X509_EXTENSION> extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
    return extension && X509_add_ext(certificate, extension.get(), -1) == 1;
}

QString HostName()
{
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return {};
    QString host = QString::fromLatin1(name);
    // Only a name a certificate may carry.
    for (const QChar c : host) {
        if (!(c.isLetterOrNumber() || c == u'-' || c == u'.') || c.unicode() > 127)
            return {};
    }
    return host;
}

std::optional<TlsMaterial> MakeSelfSigned(QString* error)
{
    Owned<EVP_PKEY> key(EVP_EC_gen("P-256"));
    Owned<X509> certificate(X509_new());
    Owned<BIGNUM> serial(BN_new());
    if (!key || !certificate || !serial || BN_rand(serial.get(), 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) != 1) {
        *error = QStringLiteral("cannot make a key: %1").arg(OpenSslError());
        return std::nullopt;
    }
    X509_NAME* name = X509_get_subject_name(certificate.get());
    const QString host = HostName();
    QByteArray names = "DNS:localhost,IP:127.0.0.1,IP:::1";
    if (!host.isEmpty() && host != u"localhost")
        names += ",DNS:" + host.toLatin1();
    const bool built = X509_set_version(certificate.get(), 2) == 1 &&
        BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(certificate.get())) != nullptr &&
        X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600) != nullptr &&
        X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 10L * 365 * 24 * 3600) != nullptr &&
        X509_set_pubkey(certificate.get(), key.get()) == 1 &&
        X509_NAME_add_entry_by_txt(
            name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("chronel-web"), -1, -1, 0) == 1 &&
        X509_set_issuer_name(certificate.get(), name) == 1 &&
        AddExtension(certificate.get(), NID_basic_constraints, "critical,CA:FALSE") &&
        AddExtension(certificate.get(), NID_key_usage, "critical,digitalSignature") &&
        AddExtension(certificate.get(), NID_ext_key_usage, "serverAuth") &&
        AddExtension(certificate.get(), NID_subject_alt_name, names.constData()) &&
        X509_sign(certificate.get(), key.get(), EVP_sha256()) > 0;
    if (!built) {
        *error = QStringLiteral("cannot make a certificate: %1").arg(OpenSslError());
        return std::nullopt;
    }
    TlsMaterial material;
    material.certificatePem = Pem([&](BIO* bio) { return PEM_write_bio_X509(bio, certificate.get()); });
    material.keyPem =
        Pem([&](BIO* bio) { return PEM_write_bio_PrivateKey(bio, key.get(), nullptr, nullptr, 0, nullptr, nullptr); });
    material.fingerprint = Fingerprint(certificate.get());
    material.made = true;
    if (material.certificatePem.isEmpty() || material.keyPem.isEmpty() || material.fingerprint.isEmpty()) {
        *error = QStringLiteral("cannot write the certificate as PEM: %1").arg(OpenSslError());
        return std::nullopt;
    }
    return material;
}

} // namespace

bool WriteFileAtomically(const QString& path, const QByteArray& bytes, unsigned mode, QString* error)
{
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temporary = target + ".new";
    ::unlink(temporary.constData());
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0) {
        *error = QStringLiteral("cannot create %1: %2")
                     .arg(QFile::decodeName(temporary), QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    // The mode asked for, whatever the umask took away.
    bool written = ::fchmod(fd, mode) == 0;
    for (qsizetype done = 0; written && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        written = n > 0;
        done += n > 0 ? n : 0;
    }
    written = written && ::fsync(fd) == 0;
    const int saved = errno;
    ::close(fd);
    if (!written || ::rename(temporary.constData(), target.constData()) != 0) {
        const int why = written ? errno : saved;
        ::unlink(temporary.constData());
        *error = QStringLiteral("cannot write %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(why)));
        return false;
    }
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

std::optional<TlsMaterial> ReadTlsMaterial(const QString& certificatePath, const QString& keyPath, QString* error)
{
    const platform::SmallFile certificateFile = platform::ReadSmallFile(certificatePath);
    const platform::SmallFile keyFile = platform::ReadSmallFile(keyPath);
    for (const auto& [file, path] : {std::pair{&certificateFile, certificatePath}, std::pair{&keyFile, keyPath}}) {
        if (file->status != platform::SmallFile::Status::Read) {
            *error = QStringLiteral("cannot read %1: %2").arg(path, file->reason);
            return std::nullopt;
        }
    }
    Owned<BIO> certificateBio(BIO_new_mem_buf(certificateFile.bytes.constData(), int(certificateFile.bytes.size())));
    Owned<BIO> keyBio(BIO_new_mem_buf(keyFile.bytes.constData(), int(keyFile.bytes.size())));
    Owned<X509> certificate(
        certificateBio ? PEM_read_bio_X509(certificateBio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!certificate) {
        *error = QStringLiteral("%1 holds no PEM certificate: %2").arg(certificatePath, OpenSslError());
        return std::nullopt;
    }
    // No passphrase callback: an encrypted key cannot be opened unattended.
    Owned<EVP_PKEY> key(keyBio ? PEM_read_bio_PrivateKey(
                                     keyBio.get(), nullptr, [](char*, int, int, void*) { return 0; }, nullptr)
                               : nullptr);
    if (!key) {
        *error = QStringLiteral("%1 holds no unencrypted PEM private key: %2").arg(keyPath, OpenSslError());
        return std::nullopt;
    }
    if (X509_check_private_key(certificate.get(), key.get()) != 1) {
        ERR_clear_error();
        *error = QStringLiteral("the key in %1 does not belong to the certificate in %2").arg(keyPath, certificatePath);
        return std::nullopt;
    }
    TlsMaterial material;
    material.certificatePem = certificateFile.bytes;
    material.keyPem = keyFile.bytes;
    material.fingerprint = Fingerprint(certificate.get());
    material.certificatePath = certificatePath;
    return material;
}

std::optional<TlsMaterial> SelfSignedTlsMaterial(const QString& stateFolder, QString* error)
{
    const QDir folder(stateFolder);
    const QString certificatePath = folder.filePath(SelfSignedCertificateName);
    const QString keyPath = folder.filePath(SelfSignedKeyName);
    if (QFileInfo::exists(certificatePath) && QFileInfo::exists(keyPath))
        return ReadTlsMaterial(certificatePath, keyPath, error);

    if (!QDir().mkpath(stateFolder)) {
        *error = QStringLiteral("cannot create the state folder %1").arg(stateFolder);
        return std::nullopt;
    }
    std::optional<TlsMaterial> material = MakeSelfSigned(error);
    if (!material)
        return std::nullopt;
    // The key first: a certificate never stands without its key.
    if (!WriteFileAtomically(keyPath, material->keyPem, 0600, error) ||
        !WriteFileAtomically(certificatePath, material->certificatePem, 0644, error))
        return std::nullopt;
    material->certificatePath = certificatePath;
    return material;
}

} // namespace chronel
