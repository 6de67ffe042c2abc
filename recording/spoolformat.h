#pragma once

#include "recordvalues.h"

#include <QByteArray>
#include <QtGlobal>

/// The layout of the spool of pending records on disk, read back after a crash.
///
/// A header says which table file the records belong to (its identity) and at what state of
/// that table they begin (its stored rows and the key of the last one). It is rewritten in
/// place at every save and clear, so there are two slots for it, each with its own check and
/// a sequence number: a rewrite goes to the slot that does not hold the header last synced,
/// and a reader takes the newest whole one. A rewrite cut short by a power cut leaves the one
/// before. Record frames follow the two slots, at kRecordsStart, each
///
///     length (1 byte, 1..254; 255 and 4 more bytes for a longer record) | payload | check
///
/// where the check (4 bytes) is a CRC-32 over the length and the payload, started from the
/// check of the frame before, or from the header's salt for the first frame. The file is
/// reserved ahead and rewritten in place, so what follows the last record is zeros (the
/// reserved room), the torn tail of a write that a crash cut short, or records of an earlier
/// run of the spool (before a save or clear gave the header a new salt). None of them
/// passes its check: a frame counts only when it follows exactly the frame written before
/// it, so the records end at the last whole one whatever lies beyond.
///
/// A record of the meter (number, time, short texts) takes about 23 bytes: the number and the
/// time as variable-length integers, a whole-count value as one too, the usual "AC", "DC",
/// "AUTO" and "MANU" as codes.
namespace SpoolFormat {

/// One slot of the header.
constexpr qsizetype kHeaderBytes = 64;
constexpr qsizetype kRecordsStart = 2 * kHeaderBytes;

struct Header {
    /// Raised at every rewrite: of two whole slots, the higher is the newer.
    quint64 sequence = 0;
    quint32 salt = 0;
    /// A clearing of the table was under way when this was written: stored records found
    /// gone mean it was done.
    bool clearing = false;
    /// The table file's identity, as FileIdentity gives its numbers.
    quint64 device = 0;
    quint64 file = 0;
    /// Records the table file held when the pending records began, and the key of the last.
    qint64 storedRows = 0;
    qint64 lastKey = 0;

    QByteArray encode() const;
    enum class Read {
        Valid,
        Blank,  ///< all zeros, or shorter than a header: nothing was ever secured in it
        Foreign ///< not a header of ours, or damaged
    };
    /// Reads one slot at the start of `data` (`size` bytes).
    static Read decode(const char *data, qsizetype size, Header *out);
    /// Reads both slots at the start of `data` and takes the newest whole one, whose slot
    /// goes to `*slot`; Foreign when neither is whole and one is not blank.
    static Read decodeSlots(const char *data, qsizetype size, Header *out, int *slot);
};

/// CRC-32 (the polynomial of zlib and PNG) of `size` bytes, continuing from `crc`.
quint32 crc32(quint32 crc, const char *data, qsizetype size);

/// Appends the frame of `record` to `out`, chained to `*chain`, which becomes its check.
void encode(QByteArray &out, const RecordValues &record, quint32 *chain);

enum class Frame {
    Whole,   ///< a record; `*next` is where the next frame begins
    Short,   ///< the frame runs past the bytes given
    End,     ///< a zero where a frame would begin: the reserved room after the last record
    Damaged, ///< a frame that fails its check, or whose payload is not a record
};
/// Reads the frame at `at` of `data` (`size` bytes). With `chain` it is checked against it
/// and `*chain` becomes its check; without, it is taken as it is (bytes this run wrote).
Frame decode(const char *data, qsizetype size, qsizetype at, RecordValues *record, qsizetype *next,
             quint32 *chain = nullptr);

} // namespace SpoolFormat
