// Fuzz target: matching and replacing the values of one environment in one line.
//
// Input: UTF-8 text. Its lines up to a line "--" are value pairs "from<TAB>to"; the lines after it
// are lines of a file. Checked for every input, with case ticked and unticked:
// - a line gets a journal record exactly when it holds a value, and a line without a value comes
//   back unchanged; records describe the line as read and as written; "not identified" records
//   only come when case is ignored, and name one of the values;
// - with values that cannot overlap one another (each between brackets that the text does not
//   hold), switching a line and then switching it back gives back the line: byte for byte when
//   its values are written with their case, and up to case otherwise (with case ignored, a value
//   written in another case comes back as values.ini writes it).

#include "fuzzcheck.h"

#include "text/linereplacer.h"

namespace {

constexpr qsizetype maximumPairs = 24;
constexpr qsizetype maximumLines = 24;

void checkRecords(const QString &line, const QStringList &from, const QStringList &to,
                  bool caseSensitive)
{
    QList<LineRecord> records;
    const QString result = replaceValuesInLine(line, from, to, caseSensitive, &records);
    const bool holds = lineHoldsAnyValue(line, from, caseSensitive);

    FUZZ_CHECK(holds == !records.isEmpty(), "a record without a value, or a value without record");
    if (!holds)
        FUZZ_CHECK(result == line, "a line without a value was changed");
    FUZZ_CHECK(replaceValuesInLine(line, from, to, caseSensitive, nullptr) == result,
               "the result depends on whether records are kept");

    const LineRecord *lastModified = nullptr;
    for (const LineRecord &record : std::as_const(records)) {
        if (record.kind == LineRecord::Kind::Modified) {
            FUZZ_CHECK(record.before == line.trimmed(), "a record does not show the line as read");
            lastModified = &record;
        } else {
            FUZZ_CHECK(!caseSensitive, "a value not identified while case counts");
            FUZZ_CHECK(record.after.isEmpty(), "a not-identified record with a new line");
            bool named = false;
            for (const QString &value : from)
                named = named || record.before == value.trimmed();
            FUZZ_CHECK(named, "a not-identified record names no value");
        }
    }
    if (lastModified)
        FUZZ_CHECK(lastModified->after == result.trimmed(), "the last record is not the result");
    else
        FUZZ_CHECK(result == line, "a line changed without a record");

    if (caseSensitive && holds)
        FUZZ_CHECK(lineHoldsAnyValue(line, from, false), "found with its case but not without");
}

// The text between brackets that nothing else in the line holds, made unique by a number.
QString bracketed(QString text, int number)
{
    text.remove(u'⟦');
    text.remove(u'⟧');
    return u'⟦' + text + u'·' + QString::number(number) + u'⟧';
}

// The line with each '@' replaced by a value as values.ini writes it and each '%' by the value
// in upper case.
QString lineWithValues(QString text, const QStringList &values, bool *allExact)
{
    text.remove(u'⟦');
    text.remove(u'⟧');
    QString line;
    qsizetype next = 0;
    for (const QChar c : std::as_const(text)) {
        if ((c == u'@' || c == u'%') && !values.isEmpty()) {
            const QString &value = values.at(next++ % values.size());
            const QString written = c == u'@' ? value : value.toUpper();
            if (written != value)
                *allExact = false;
            line += written;
        } else {
            line += c;
        }
    }
    return line;
}

void checkRoundTrip(const QString &text, const QStringList &rawFrom, const QStringList &rawTo,
                    bool caseSensitive)
{
    QStringList from;
    QStringList to;
    for (qsizetype i = 0; i < rawFrom.size(); ++i) {
        from.append(bracketed(rawFrom.at(i), int(i)));
        to.append(bracketed(rawTo.at(i), int(i + rawFrom.size())));
    }
    bool allExact = true;
    const QString line = lineWithValues(text, from, &allExact);
    const QString switched = replaceValuesInLine(line, from, to, caseSensitive, nullptr);
    const QString back = replaceValuesInLine(switched, to, from, caseSensitive, nullptr);

    bool same = back == line;
    if (!caseSensitive && !allExact)
        same = back.compare(line, Qt::CaseInsensitive) == 0;
    if (!same) {
        printLines("values", from);
        printLines("line, switched, back", { line, switched, back });
        fuzzFailure(__FILE__, __LINE__, "switching back does not give the line back");
    }
    if (caseSensitive || allExact) {
        for (const QString &value : std::as_const(from))
            FUZZ_CHECK(!switched.contains(value), "a value was left in the switched line");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QStringList parts = QString::fromUtf8(bytesOf(data, size)).split(u'\n');
    QStringList from;
    QStringList to;
    QStringList lines;
    bool inValues = true;
    for (const QString &part : parts) {
        if (inValues && part == u"--") {
            inValues = false;
        } else if (inValues) {
            if (from.size() == maximumPairs)
                continue;
            const qsizetype tab = part.indexOf(u'\t');
            from.append(tab < 0 ? part : part.left(tab));
            to.append(tab < 0 ? QString() : part.sliced(tab + 1));
        } else if (lines.size() < maximumLines) {
            lines.append(part);
        }
    }

    for (const bool caseSensitive : { true, false }) {
        for (const QString &line : std::as_const(lines)) {
            checkRecords(line, from, to, caseSensitive);
            checkRoundTrip(line, from, to, caseSensitive);
        }
    }
    return 0;
}
