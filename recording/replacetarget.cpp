#include "replacetarget.h"

#include "recordtable.h"

#include <QFileInfo>

#include <sqlite3.h>

#include <stdexcept>

void ReplaceTarget::ensureFree(const RecordTable &source, const QString &path) {
    const QFileInfo target(path);
    if (!target.exists())
        return;
    const QFileInfo current(source.fileName());
    const bool isOpenTable =
        current.exists() && target.canonicalFilePath() == current.canonicalFilePath();
    if (isOpenTable || (target.isFile() && isHeldElsewhere(path)))
        throw std::runtime_error(QStringLiteral("Table in use: %1").arg(path).toStdString());
}

bool ReplaceTarget::isHeldElsewhere(const QString &path) {
    sqlite3 *db = nullptr;
    // Read-write without create: probing must never make a file, nor wait for a lock.
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) !=
        SQLITE_OK) {
        sqlite3_close(db);
        return false;
    }
    sqlite3_busy_timeout(db, 0);
    const int rc = sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    // Anything that is not a table file (a text file, say) answers otherwise and is free.
    return rc == SQLITE_BUSY || rc == SQLITE_LOCKED;
}
