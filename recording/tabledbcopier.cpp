#include "tabledbcopier.h"

#include "recordschema.h"
#include "recordtable.h"
#include "recordwalk.h"
#include "replacetarget.h"
#include "replacingfile.h"

#include <QFileInfo>

#include <sqlite3.h>

#include <stdexcept>

namespace {

[[noreturn]] void raise(const QString &text) {
    throw std::runtime_error(text.toStdString());
}

/// The new table file while it is built, closed however the copy ends.
class Destination {
public:
    /// Opens the file made for it; a link put in its place is not followed.
    Destination(const QString &file, const QString &shownName) : m_shownName(shownName) {
        if (sqlite3_open_v2(file.toUtf8().constData(), &m_db,
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, nullptr) != SQLITE_OK) {
            // A failed open leaves a handle all the same, and no destructor runs for it.
            const QString why = reason();
            sqlite3_close(m_db);
            m_db = nullptr;
            raise(why);
        }
    }
    ~Destination() {
        sqlite3_finalize(m_insert);
        sqlite3_close(m_db);
    }

    QString reason() const {
        return QStringLiteral("%1: %2").arg(
            m_shownName, QString::fromUtf8(m_db ? sqlite3_errmsg(m_db) : "out of memory"));
    }
    [[noreturn]] void fail() const { raise(reason()); }
    void run(const QString &sql) {
        if (sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
            fail();
    }
    void prepareInsert(const QString &sql) {
        const QByteArray utf8 = sql.toUtf8();
        if (sqlite3_prepare_v2(m_db, utf8.constData(), int(utf8.size()), &m_insert, nullptr) !=
            SQLITE_OK)
            fail();
    }
    /// Inserts the walk's current record, every field with its stored type.
    void insertFrom(const RecordWalk &walk) {
        for (int c = 0; c < RecordWalk::ColumnCount; ++c)
            sqlite3_bind_value(m_insert, c + 1, sqlite3_column_value(walk.statement(), c));
        if (sqlite3_step(m_insert) != SQLITE_DONE)
            fail();
        sqlite3_reset(m_insert);
    }

private:
    QString m_shownName;
    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_insert = nullptr;
};

} // namespace

void TableDbCopier::copy(const RecordTable &source, const QString &path) {
    ReplaceTarget::ensureFree(source, path);
    ReplacingFile::checkTarget(path);
    ReplacingFile out(path);
    if (const QFileInfo target(out.targetName()); target.exists() && !target.isFile())
        raise(QStringLiteral("Cannot replace %1: it is not a table file").arg(path));

    RecordWalk walk(source);
    if (!out.open())
        raise(QStringLiteral("Cannot create %1: %2").arg(path, out.errorString()));
    // The engine writes the file by its name.
    out.closeTemporary();
    {
        Destination dest(out.temporaryName(), path);
        // The temporary file is renamed into place only once complete, so it needs no
        // journal of its own.
        dest.run(QStringLiteral("PRAGMA journal_mode=OFF"));
        const QString table = QFileInfo(path).completeBaseName();
        dest.run(RecordSchema::createSql(table));
        dest.run(QStringLiteral("BEGIN"));
        dest.prepareInsert(RecordSchema::insertSql(table, true));
        while (walk.next())
            dest.insertFrom(walk);
        dest.run(QStringLiteral("COMMIT"));
    }
    if (!out.commit())
        raise(QStringLiteral("Cannot replace %1: %2").arg(path, out.errorString()));
}
