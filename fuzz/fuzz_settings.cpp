// Fuzz target: reading config.ini and values.ini.
//
// The input is the content of a settings file. Checked for every input:
// - the lines are those of the file split at line feeds, a carriage return before a line feed
//   dropped, no empty line after a last line feed;
// - text that decodes cleanly reads the same whatever Unicode encoding and byte-order mark it is
//   saved in, and with CRLF instead of LF line ends;
// - config.ini: the directory, filter, environment and stop on a bad Environnement= line follow
//   the key rules line by line;
// - values.ini: each list holds exactly the lines that give it a value, and the pairs are only
//   complete (the run may go on) when both lists have the same, non-zero, length;
// - config.ini: recording either environment, case counting or not, gives a file that names it
//   (unless a line of it is refused, or its UTF-16/32 would not come back), and that keeps every
//   line of the file as it was but for the environment line it changed or added.

#include "fuzzcheck.h"

#include "config/settingsgrammar.h"
#include "switching/environmentswitch.h"
#include "text/textformat.h"

#include <QStringEncoder>

#include <optional>

namespace {

QStringList expectedLines(const QString &text)
{
    QStringList lines;
    if (text.isEmpty())
        return lines;
    const bool lastEnded = text.endsWith(u'\n');
    lines = text.split(u'\n');
    if (lastEnded)
        lines.removeLast();
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const bool ended = i + 1 < lines.size() || lastEnded;
        if (ended && lines[i].endsWith(u'\r'))
            lines[i].chop(1);
    }
    return lines;
}

// The text saved in another encoding, with its byte-order mark.
QByteArray saved(const QString &text, QStringConverter::Encoding encoding)
{
    QStringEncoder encoder(encoding, QStringConverter::Flag::WriteBom);
    return encoder.encode(text);
}

void checkLines(const DecodedText &decoded, const QStringList &lines)
{
    if (lines != expectedLines(decoded.text)) {
        printLines("lines", lines);
        printLines("expected", expectedLines(decoded.text));
        fuzzFailure(__FILE__, __LINE__, "lines are not the text split at line feeds");
    }
    for (const QString &line : lines)
        FUZZ_CHECK(!line.contains(u'\n'), "a line holds a line feed");
}

void checkEncodings(const DecodedText &decoded, const QStringList &lines)
{
    // Text that holds bytes kept from undecodable sequences has no other encoding.
    if (decoded.safety != TextSafety::Rewritable || decoded.text.startsWith(QChar(0xFEFF))
        || !decoded.text.isValidUtf16())
        return;
    for (const QStringConverter::Encoding encoding :
         { QStringConverter::Utf8, QStringConverter::Utf16LE, QStringConverter::Utf16BE,
           QStringConverter::Utf32LE, QStringConverter::Utf32BE }) {
        const DecodedText again = decodeText(saved(decoded.text, encoding));
        FUZZ_CHECK(again.text == decoded.text, "the text reads differently in another encoding");
        FUZZ_CHECK(again.safety == TextSafety::Rewritable,
                   "clean text saved in another encoding is judged unsafe");
    }
    if (!decoded.text.contains(u'\r')) {
        QString crlf = decoded.text;
        crlf.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
        FUZZ_CHECK(splitLines(decodeText(crlf.toUtf8()).text) == lines,
                   "CRLF line ends give other lines than LF");
    }
}

bool startsWithKey(const QString &line, qsizetype from, QStringView key)
{
    return QStringView(line).sliced(from).startsWith(key, Qt::CaseInsensitive);
}

// What reading the lines must give, walking each line with a position instead of cutting it.
struct ExpectedConfig
{
    QString mainDir;
    QString filter;
    std::optional<bool> prod;
    QStringList environments;
    qsizetype read = 0;
    bool bad = false;
};

ExpectedConfig expectedConfig(const QStringList &lines, const QString &chosenDir)
{
    ExpectedConfig expected;
    expected.mainDir = chosenDir;
    for (const QString &line : lines) {
        ++expected.read;
        qsizetype at = 0;
        if (expected.mainDir.isEmpty() && startsWithKey(line, at, mainDirKey)) {
            at += mainDirKey.size();
            expected.mainDir = line.sliced(at);
        }
        if (startsWithKey(line, at, filesFilterKey)) {
            at += filesFilterKey.size();
            expected.filter = line.sliced(at);
        }
        if (startsWithKey(line, at, environmentKey)) {
            at += environmentKey.size();
            const QString rest = line.sliced(at);
            expected.environments.append(rest);
            if (rest.contains(u"prod")) {
                expected.prod = true;
            } else if (rest.contains(u"dev")) {
                expected.prod = false;
            } else {
                expected.bad = true;
                break;
            }
        }
    }
    return expected;
}

void checkConfig(const QStringList &lines)
{
    // At the first load, and with a directory already chosen, which is kept whatever the file
    // says (a MainDir= key then stays on its line, and the keys after it are not at its front).
    for (const QString &chosenDir : { QString(), QStringLiteral("/chosen") }) {
        ConfigSettings settings;
        settings.mainDir = chosenDir;
        const ConfigStatus status = readConfigLines(lines, settings);
        const ExpectedConfig expected = expectedConfig(lines, chosenDir);
        FUZZ_CHECK((status == ConfigStatus::BadEnvironment) == expected.bad,
                   "wrong verdict on Environnement=");
        FUZZ_CHECK(settings.linesRead == expected.read, "reading did not stop at the right line");
        FUZZ_CHECK(settings.mainDir == expected.mainDir, "wrong MainDir=");
        FUZZ_CHECK(settings.filesFilter == expected.filter, "wrong FilesFilter=");
        FUZZ_CHECK(settings.prodActive == expected.prod, "wrong environment");
        FUZZ_CHECK(settings.environmentLines == expected.environments,
                   "wrong Environnement= lines");
    }
}

void checkValues(const QStringList &lines)
{
    const ValuePairs pairs = readValueLines(lines);
    qsizetype prodLines = 0;
    qsizetype devLines = 0;
    for (const QString &line : lines) {
        qsizetype at = 0;
        if (startsWithKey(line, at, prodValueKey)) {
            ++prodLines;
            at += prodValueKey.size();
        }
        if (startsWithKey(line, at, devValueKey))
            ++devLines;
    }
    FUZZ_CHECK(pairs.prodValues.size() == prodLines, "a prodVal= line was lost or invented");
    FUZZ_CHECK(pairs.devValues.size() == devLines, "a devVal= line was lost or invented");
    const bool complete = pairs.isComplete();
    FUZZ_CHECK(complete == (prodLines > 0 && prodLines == devLines),
               "unequal or empty value lists accepted, or equal ones refused");
    for (const QString &value : pairs.prodValues + pairs.devValues)
        FUZZ_CHECK(!value.contains(u'\n'), "a value holds a line feed");
}

void checkEnvironmentSwitch(const QByteArray &bytes, const QStringList &lines)
{
    const QString mainDir = QStringLiteral("/chosen");
    bool refused = false;
    for (const QString &inForce : { mainDir, QString() }) {
        ConfigSettings read;
        read.mainDir = inForce;
        refused = refused || readConfigLines(lines, read) != ConfigStatus::Ok;
    }
    // A U+FEFF that starts the text is read as a byte-order mark once written back, and a
    // carriage return that ends a line as part of its new line end.
    const bool startsWithMark = !lines.isEmpty() && lines.constFirst().startsWith(QChar(0xFEFF));
    const auto withoutReturns = [](QString line) {
        while (line.endsWith(u'\r'))
            line.chop(1);
        return line;
    };
    for (const bool toProduction : { true, false }) {
        for (const bool caseSensitive : { true, false }) {
            const EnvironmentSwitch switched =
                    switchEnvironment(bytes, toProduction, caseSensitive, mainDir);
            FUZZ_CHECK(switched.rewritable
                               == (decodeText(bytes).safety != TextSafety::InvalidBytes),
                       "config.ini refused for bytes that come back");
            if (!switched.rewritable)
                continue;
            FUZZ_CHECK(switched.recorded || refused || startsWithMark,
                       "the new environment was not recorded");
            FUZZ_CHECK(switched.recorded == namesEnvironment(switched.bytes, toProduction, mainDir),
                       "the new content does not read as recorded");
            // Every line but those the records name is kept; at most one is added.
            if (startsWithMark)
                continue;
            const QStringList now = splitLines(decodeText(switched.bytes).text);
            FUZZ_CHECK(now.size() == lines.size() || now.size() == lines.size() + 1,
                       "lines lost or added");
            qsizetype changed = 0;
            for (qsizetype i = 0; i < lines.size(); ++i)
                changed += withoutReturns(now.at(i)) == withoutReturns(lines.at(i)) ? 0 : 1;
            FUZZ_CHECK(changed + now.size() - lines.size() <= switched.records.size(),
                       "a line changed without a record");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const DecodedText decoded = decodeText(bytesOf(data, size));
    const QStringList lines = splitLines(decoded.text);
    checkLines(decoded, lines);
    checkEncodings(decoded, lines);
    checkConfig(lines);
    checkValues(lines);
    checkEnvironmentSwitch(bytesOf(data, size), lines);
    return 0;
}
