// Binding by dlopen/dlsym lives here because PostgreSQL stays optional: Qt's
// PostgreSQL driver is a plugin that a SQLite-only installation lacks, and
// linking libpq would make it a dependency of every program that keeps a
// journal. The library opened is the one the plugin loads itself (same soname).
#include "libpq_runtime.h"

#include <dlfcn.h>

namespace chronel::libpq {

namespace {

// The parts of libpq-fe.h used here; the layout of PQconninfoOption has been
// stable since libpq.so.5.
struct ConninfoOption {
    char* keyword;
    char* envvar;
    char* compiled;
    char* val;
    char* label;
    char* dispchar;
    int dispsize;
};

struct Library {
    ConninfoOption* (*conndefaults)() = nullptr;
    void (*conninfoFree)(ConninfoOption*) = nullptr;
    int (*socket)(const void*) = nullptr;
    QString error;

    Library()
    {
        void* handle = dlopen("libpq.so.5", RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            error = QStringLiteral("libpq is not installed (Debian package libpq5): %1")
                        .arg(QString::fromLocal8Bit(dlerror()));
            return;
        }
        conndefaults = reinterpret_cast<decltype(conndefaults)>(dlsym(handle, "PQconndefaults"));
        conninfoFree = reinterpret_cast<decltype(conninfoFree)>(dlsym(handle, "PQconninfoFree"));
        socket = reinterpret_cast<decltype(socket)>(dlsym(handle, "PQsocket"));
        if (!conndefaults || !conninfoFree || !socket)
            error = QStringLiteral("libpq.so.5 lacks PQconndefaults, PQconninfoFree or PQsocket");
    }
};

const Library& Loaded()
{
    static const Library library;
    return library;
}

} // namespace

std::optional<QList<Keyword>> Keywords(QString* error)
{
    static const std::optional<QList<Keyword>> keywords = []() -> std::optional<QList<Keyword>> {
        const Library& library = Loaded();
        if (!library.error.isEmpty())
            return std::nullopt;
        ConninfoOption* options = library.conndefaults();
        if (!options)
            return std::nullopt;
        QList<Keyword> list;
        for (const ConninfoOption* o = options; o->keyword; ++o) {
            const QByteArray display = o->dispchar ? QByteArray(o->dispchar) : QByteArray();
            list << Keyword{QString::fromLatin1(o->keyword), display.contains('*'), display.contains('D')};
        }
        library.conninfoFree(options);
        return list;
    }();
    if (!keywords)
        *error = Loaded().error.isEmpty() ? QStringLiteral("libpq gave no list of its parameters") : Loaded().error;
    return keywords;
}

int SocketOf(void* connection)
{
    const Library& library = Loaded();
    return connection && library.socket ? library.socket(connection) : -1;
}

} // namespace chronel::libpq
