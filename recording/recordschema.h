#pragma once

#include <QString>
#include <QStringList>

#include <bitset>

/// The record table's layout, the one place that spells it: the fields, their order in the
/// statements that read and write them, and the SQL built on them. A table written elsewhere
/// may give its fields other types, spell them in another case or reach its rows under
/// another name than "Not", so the statements name the row number as the caller found it
/// (RecordTable::keyColumn()) and never rely on the table's own column order.
///
/// `table` is always the table's own name, quoted here; `key` is already SQL (a quoted
/// column, or one of the engine's own names for the row number such as rowid).
class RecordSchema {
public:
    /// The fields in the order every statement lists them: the six a record shows first,
    /// then the row's key, then the numeric value, which only the bulk commands read.
    enum Field { No, Time, DcAc, Value, Unit, Auto, Key, Nval, FieldCount };
    /// The fields a record shows: No up to Auto.
    static constexpr int kShownFields = Key;

    /// The field's name as the table is created (Key: "Not"); empty when out of range.
    static QString fieldName(int field);
    /// The names of the stored fields in the order the table is created.
    static const QStringList &storedFieldNames();
    /// `identifier` as an SQL identifier, whatever characters it holds.
    static QString quoted(const QString &identifier);

    /// Creates an empty record table named `table`.
    static QString createSql(const QString &table);
    /// Inserts one record: every field in Field order, each a parameter; the key only when
    /// `withKey` (else the engine numbers the row).
    static QString insertSql(const QString &table, bool withKey);
    /// The fields before `end` in Field order as a select list, Key read as `key`.
    static QString selectList(int end, const QString &key);
    /// Every record in table order, every field in Field order.
    static QString walkSql(const QString &table, const QString &key);
    /// Up to ?2 records shown, from ?3 rows after the first key at or above ?1, in table
    /// order: the shown fields and the key.
    static QString pageSql(const QString &table, const QString &key);
    /// The key ?2 rows after the first key at or above ?1.
    static QString keyAtSql(const QString &table, const QString &key);
    /// The shown fields of the row whose key is ?1; those in `leftOut` read as NULL, the
    /// texts and blobs of the others cut by the engine to `maxChars`.
    static QString cappedRowSql(const QString &table, const QString &key,
                                std::bitset<kShownFields> leftOut, int maxChars);
    /// A row laid out as walkSql()'s, made of parameters: field f is ?(f + 1), the key NULL.
    /// Prepared through the engine itself: Qt's driver crashed binding numbered parameters.
    static QString boundRowSql();

    /// How many rows the table holds; the engine counts its pages' cells without a walk.
    static QString countSql(const QString &table);
    /// The least or the greatest key: one look-up each.
    static QString minKeySql(const QString &table, const QString &key);
    static QString maxKeySql(const QString &table, const QString &key);
    /// Every key in key order.
    static QString keysSql(const QString &table, const QString &key);
    /// Removes every row.
    static QString clearSql(const QString &table);

    /// The file's own tables (not the engine's), in the order they were created.
    static QString tablesSql();
    /// The view named ?1, whatever its case.
    static QString viewNamedSql();
    /// The names of the triggers on the table named ?1, whatever its case.
    static QString triggersOnSql();
    /// One row per column of the table: name at 1, declared type at 2, key position at 5.
    static QString tableInfoSql(const QString &table);
    /// One row per index of the table: its origin ("pk" for the key's) at 3.
    static QString indexListSql(const QString &table);
    /// Reads no row, and fails when the table has no `key`.
    static QString keyProbeSql(const QString &table, const QString &key);
};
