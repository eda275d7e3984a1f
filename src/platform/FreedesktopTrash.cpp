#include "platform/FreedesktopTrash.h"

#include <QFile>

// GLib names a structure field "signals", which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#pragma pop_macro("signals")

#include <memory>

namespace {
struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct ErrorFree {
    void operator()(GError *error) const { g_error_free(error); }
};
} // namespace

bool FreedesktopTrash::moveToTrash(const QString &path, QString *error)
{
    const std::unique_ptr<GFile, ObjectUnref> file(g_file_new_for_path(QFile::encodeName(path).constData()));
    GError *raw = nullptr;
    const bool moved = g_file_trash(file.get(), nullptr, &raw);
    const std::unique_ptr<GError, ErrorFree> failure(raw);
    if (!moved && error)
        *error =
            failure ? QString::fromUtf8(failure->message) : QStringLiteral("The file could not be moved to the Trash.");
    return moved;
}
