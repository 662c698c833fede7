#include "switching/environmentswitch.h"

#include "config/settingsgrammar.h"
#include "files/filesystem.h"
#include "text/textformat.h"

namespace {

constexpr QStringView productionLine = u"Environnement=prod";
constexpr QStringView developmentLine = u"Environnement=dev";

// Whether the lines name the environment for a load that starts with this directory.
bool linesName(const QStringList &lines, bool production, const QString &mainDir)
{
    ConfigSettings settings;
    settings.mainDir = mainDir;
    return readConfigLines(lines, settings) == ConfigStatus::Ok
            && settings.prodActive == production;
}

// The value of an Environnement= line turned to the other environment, the rest of it kept:
// every "prod" becomes "dev" (a "prod" that the change makes anew as well), or the first "dev"
// becomes "prod", which the load looks for first.
QString switchedValue(QString value, bool toProduction)
{
    const QString production = QStringLiteral("prod");
    const QString development = QStringLiteral("dev");
    if (toProduction)
        return value.replace(value.indexOf(development), development.size(), production);
    while (value.contains(production))
        value.replace(production, development);
    return value;
}

} // namespace

EnvironmentSwitch switchEnvironment(const QByteArray &configBytes, bool toProduction,
                                    bool caseSensitive, const QString &mainDirInForce)
{
    EnvironmentSwitch result;
    const DecodedText decoded = decodeText(configBytes);
    // NUL bytes and bytes that are not UTF-8 come back as they were: only broken UTF-16 and
    // UTF-32 would not.
    if (decoded.safety == TextSafety::InvalidBytes) {
        result.rewritable = false;
        return result;
    }

    const QStringList asRead = splitLines(decoded.text);
    const QStringList from{ (toProduction ? developmentLine : productionLine).toString() };
    const QStringList to{ (toProduction ? productionLine : developmentLine).toString() };
    QStringList lines;
    lines.reserve(asRead.size());
    for (const QString &line : asRead)
        lines.append(replaceValuesInLine(line, from, to, caseSensitive, &result.records));

    // The load after a restart takes MainDir= again, which may cut another key from the front of
    // a line: both readings must name the new environment.
    for (const QString &mainDir : { mainDirInForce, QString() }) {
        ConfigSettings read;
        read.mainDir = mainDir;
        if (readConfigLines(lines, read) != ConfigStatus::Ok)
            break; // a line that the load refuses: it would not switch at all
        if (read.prodActive == toProduction)
            continue;
        if (read.environmentLine >= 0) {
            QString &line = lines[read.environmentLine];
            line = line.left(read.environmentValueStart)
                    + switchedValue(line.sliced(read.environmentValueStart), toProduction);
            result.records.append({ LineRecord::Kind::Modified,
                                    asRead.value(read.environmentLine).trimmed(), line.trimmed() });
        } else {
            lines.append(to.constFirst());
            result.records.append({ LineRecord::Kind::Modified, QString(), to.constFirst() });
        }
    }
    // Read back as the load will read the file.
    result.bytes = encodeLines(lines);
    result.recorded = namesEnvironment(result.bytes, toProduction, mainDirInForce);
    return result;
}

bool namesEnvironment(const QByteArray &configBytes, bool production, const QString &mainDirInForce)
{
    const QStringList lines = decodeLines(configBytes).lines;
    return linesName(lines, production, mainDirInForce) && linesName(lines, production, QString());
}

EnvironmentWrite prepareEnvironment(const QString &configPath, bool toProduction,
                                    bool caseSensitive, const QString &mainDirInForce,
                                    quint64 installation)
{
    EnvironmentWrite result;
    QByteArray bytes;
    FileStamp basis;
    if (!readFileBytes(configPath, bytes, &basis)) {
        result.outcome = EnvironmentOutcome::Unreadable;
        return result;
    }
    EnvironmentSwitch switched =
            switchEnvironment(bytes, toProduction, caseSensitive, mainDirInForce);
    if (!switched.rewritable) {
        result.outcome = EnvironmentOutcome::NotRewritable;
        return result;
    }
    if (!switched.recorded) {
        result.outcome = EnvironmentOutcome::NotRecorded;
        return result;
    }
    Rewrite rewrite(configPath, toProduction, basis, installation);
    rewrite.lockContent();
    rewrite.write(switched.bytes);
    result.write = rewrite.prepare(result.prepared);
    result.lockOutcome = rewrite.lockOutcome();
    if (!result.write) {
        result.outcome = EnvironmentOutcome::NotWritten;
        return result;
    }
    result.records = std::move(switched.records);
    return result;
}
