#include "recordschema.h"

#include <array>

namespace {

const std::array<QString, RecordSchema::FieldCount> &names() {
    static const std::array<QString, RecordSchema::FieldCount> kNames{
        QStringLiteral("No"),    QStringLiteral("Time"), QStringLiteral("DC/AC"),
        QStringLiteral("Value"), QStringLiteral("Unit"), QStringLiteral("AUTO"),
        QStringLiteral("Not"),   QStringLiteral("Nval")};
    return kNames;
}

} // namespace

QString RecordSchema::fieldName(int field) {
    return field >= 0 && field < FieldCount ? names()[std::size_t(field)] : QString();
}

const QStringList &RecordSchema::storedFieldNames() {
    static const QStringList kStored{fieldName(Key),  fieldName(No),    fieldName(Time),
                                     fieldName(DcAc), fieldName(Value), fieldName(Unit),
                                     fieldName(Auto), fieldName(Nval)};
    return kStored;
}

QString RecordSchema::quoted(const QString &identifier) {
    QString q = identifier;
    q.replace(u'"', QStringLiteral("\"\""));
    return u'"' + q + u'"';
}

QString RecordSchema::createSql(const QString &table) {
    return QStringLiteral("CREATE TABLE %1 (%2 INTEGER PRIMARY KEY, %3 INTEGER, %4 TEXT, %5 TEXT, "
                          "%6 TEXT, %7 TEXT, %8 TEXT, %9 REAL)")
        .arg(quoted(table), quoted(fieldName(Key)), quoted(fieldName(No)), quoted(fieldName(Time)),
             quoted(fieldName(DcAc)), quoted(fieldName(Value)), quoted(fieldName(Unit)),
             quoted(fieldName(Auto)), quoted(fieldName(Nval)));
}

QString RecordSchema::insertSql(const QString &table, bool withKey) {
    QStringList fields;
    QStringList parameters;
    for (int f = 0; f < FieldCount; ++f) {
        if (f == Key && !withKey)
            continue;
        fields << quoted(fieldName(f));
        parameters << QStringLiteral("?");
    }
    return QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
        .arg(quoted(table), fields.join(u", "), parameters.join(u", "));
}

QString RecordSchema::selectList(int end, const QString &key) {
    QStringList fields;
    for (int f = 0; f < end && f < FieldCount; ++f)
        fields << (f == Key ? key : quoted(fieldName(f)));
    return fields.join(u", ");
}

QString RecordSchema::walkSql(const QString &table, const QString &key) {
    return QStringLiteral("SELECT %1 FROM %2 ORDER BY %3")
        .arg(selectList(FieldCount, key), quoted(table), key);
}

QString RecordSchema::pageSql(const QString &table, const QString &key) {
    return QStringLiteral("SELECT %1 FROM %2 WHERE %3 >= ? ORDER BY %3 LIMIT ? OFFSET ?")
        .arg(selectList(Key + 1, key), quoted(table), key);
}

QString RecordSchema::keyAtSql(const QString &table, const QString &key) {
    return QStringLiteral("SELECT %2 FROM %1 WHERE %2 >= ? ORDER BY %2 LIMIT 1 OFFSET ?")
        .arg(quoted(table), key);
}

QString RecordSchema::cappedRowSql(const QString &table, const QString &key,
                                   std::bitset<kShownFields> leftOut, int maxChars) {
    QStringList fields;
    for (int f = 0; f < kShownFields; ++f)
        fields << (leftOut[std::size_t(f)]
                       ? QStringLiteral("NULL")
                       : QStringLiteral("CASE WHEN typeof(%1) IN ('text', 'blob') THEN "
                                        "substr(%1, 1, %2) ELSE %1 END")
                             .arg(quoted(fieldName(f)))
                             .arg(maxChars));
    return QStringLiteral("SELECT %1 FROM %2 WHERE %3 = ?")
        .arg(fields.join(u", "), quoted(table), key);
}

QString RecordSchema::boundRowSql() {
    QStringList fields;
    for (int f = 0; f < FieldCount; ++f)
        fields << (f == Key ? QStringLiteral("NULL") : QStringLiteral("?%1").arg(f + 1));
    return QStringLiteral("SELECT ") + fields.join(u", ");
}

QString RecordSchema::countSql(const QString &table) {
    return QStringLiteral("SELECT count(*) FROM %1").arg(quoted(table));
}

QString RecordSchema::minKeySql(const QString &table, const QString &key) {
    return QStringLiteral("SELECT min(%1) FROM %2").arg(key, quoted(table));
}

QString RecordSchema::maxKeySql(const QString &table, const QString &key) {
    return QStringLiteral("SELECT max(%1) FROM %2").arg(key, quoted(table));
}

QString RecordSchema::keysSql(const QString &table, const QString &key) {
    return QStringLiteral("SELECT %1 FROM %2 ORDER BY %1").arg(key, quoted(table));
}

QString RecordSchema::clearSql(const QString &table) {
    return QStringLiteral("DELETE FROM %1").arg(quoted(table));
}

QString RecordSchema::tablesSql() {
    return QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' AND "
                          "name NOT LIKE 'sqlite\\_%' ESCAPE '\\' ORDER BY rowid");
}

QString RecordSchema::viewNamedSql() {
    return QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'view' AND name = ? "
                          "COLLATE NOCASE");
}

QString RecordSchema::triggersOnSql() {
    return QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'trigger' AND "
                          "tbl_name = ? COLLATE NOCASE ORDER BY name");
}

QString RecordSchema::tableInfoSql(const QString &table) {
    return QStringLiteral("PRAGMA table_info(%1)").arg(quoted(table));
}

QString RecordSchema::indexListSql(const QString &table) {
    return QStringLiteral("PRAGMA index_list(%1)").arg(quoted(table));
}

QString RecordSchema::keyProbeSql(const QString &table, const QString &key) {
    return QStringLiteral("SELECT %1 FROM %2 LIMIT 0").arg(key, quoted(table));
}
