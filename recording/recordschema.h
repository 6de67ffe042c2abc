#pragma once

#include <QString>
#include <QStringList>

/// The record table's layout, the one place that spells it: the fields, their order in the
/// statements that read and write them, and the SQL built on them. A table written elsewhere
/// may give its fields other types, spell them in another case or reach its rows under
/// another name than "Not", so the statements name the row number as the caller found it
/// (RecordTable::keyColumn()) and never rely on the table's own column order.
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
};
