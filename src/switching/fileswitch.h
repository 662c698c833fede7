#pragma once

#include "text/linereplacer.h"
#include "files/rewrite.h"
#include "text/textformat.h"
#include "text/valuefinder.h"

#include <QByteArray>
#include <QStringList>

#include <functional>

// The values of one direction of a switch, ready for the files of a run.
class SwitchValues
{
public:
    SwitchValues(const QStringList &fromValues, const QStringList &toValues, bool caseSensitive);

    const QStringList &fromValues() const { return m_from; }
    const QStringList &toValues() const { return m_to; }
    bool caseSensitive() const { return m_caseSensitive; }
    const ValueFinder &finder() const { return m_finder; }

private:
    QStringList m_from;
    QStringList m_to;
    bool m_caseSensitive;
    ValueFinder m_finder;
};

// Whether a line of the file whose bytes these are holds one of the values (exact case, or any
// case when case is ignored): the answer of decoding the file and testing each line.
[[nodiscard]] bool fileHoldsAnyValue(const QByteArray &bytes, const SwitchValues &values);

struct SwitchedFile
{
    TextSafety safety = TextSafety::Rewritable;
    bool holdsValue = false; // set when the text is not rewritable
    QByteArray bytes; // the new content, when the text is rewritable and no writer is given
};

// Decodes the file, replaces the values in each line (see replaceValuesInLine), passes each
// journal record to onRecord in order, and gives the bytes to write back: UTF-8 without
// byte-order mark, each line followed by the platform's terminator. Lines without a value are
// copied as they are, without being decoded. With a writer, the new content is handed to it in
// pieces as it is made, instead of being kept whole in the result; whether the text is
// rewritable is known before the first piece.
[[nodiscard]] SwitchedFile switchFileBytes(const QByteArray &bytes, const SwitchValues &values,
                                           const std::function<void(const LineRecord &)> &onRecord,
                                           const std::function<void(QByteArrayView)> &writer = {});

// What became of a file of a switch run.
enum class FileOutcome {
    Switched, // its new content prepared, to be put in place
    LeftIntact, // holds a value, but its text would not survive a rewrite (see safety)
    NoValue, // its text would not survive a rewrite, and it holds no value: nothing to do
    NotWritten, // the rewrite failed (see write): the file keeps its bytes
    Changed, // the file changed between its reading and the end of the run: it keeps what it holds
    // The system refused to put the new content in place (see write). The file keeps its bytes;
    // the new content stays beside it when the refusal may pass (waits), for the next run or
    // start to put in place.
    NotPlaced,
};

struct FileSwitch
{
    FileOutcome outcome = FileOutcome::Switched;
    TextSafety safety = TextSafety::Rewritable;
    WriteResult write;
    bool waits = false; // NotPlaced: the new content stays beside the file
};

// Switches a file already read into bytes, its new content going to rewrite, which the caller
// then prepares (unless the outcome is LeftIntact or NoValue: nothing to write). The records go
// to onRecord, in order, on the calling thread. A large file is switched on another core while
// this thread hands its records on. A file whose text would not survive the rewrite (NUL bytes,
// bytes that are not valid in its encoding) is never written.
[[nodiscard]] FileSwitch
replaceValuesInFile(const QByteArray &bytes, const SwitchValues &values, Rewrite &rewrite,
                    const std::function<void(const LineRecord &)> &onRecord);
