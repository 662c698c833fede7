#include "config/settingsgrammar.h"

namespace {

// Cuts key from the front of line when line starts with it, ignoring case.
bool takeKey(QString &line, QStringView key)
{
    if (!line.startsWith(key, Qt::CaseInsensitive))
        return false;
    line.remove(0, key.size());
    return true;
}

} // namespace

ConfigStatus readConfigLines(const QStringList &lines, ConfigSettings &settings)
{
    for (QString line : lines) {
        const qsizetype size = line.size();
        ++settings.linesRead;
        if (settings.mainDir.isEmpty() && takeKey(line, mainDirKey))
            settings.mainDir = line;
        if (takeKey(line, filesFilterKey))
            settings.filesFilter = line;
        if (takeKey(line, environmentKey)) {
            // The line as it stands here: what is left once the keys before it were cut.
            settings.environmentLines.append(line);
            if (line.contains(u"prod"))
                settings.prodActive = true;
            else if (line.contains(u"dev"))
                settings.prodActive = false;
            else
                return ConfigStatus::BadEnvironment;
            settings.environmentLine = settings.linesRead - 1;
            settings.environmentValueStart = size - line.size();
        }
    }
    return ConfigStatus::Ok;
}

ValuePairs readValueLines(const QStringList &lines)
{
    ValuePairs pairs;
    for (QString line : lines) {
        if (takeKey(line, prodValueKey))
            pairs.prodValues.append(line);
        if (takeKey(line, devValueKey))
            pairs.devValues.append(line);
    }
    return pairs;
}

ValuePairs ValuePairs::usablePairs(QList<qsizetype> *leftAside) const
{
    ValuePairs usable;
    const qsizetype pairs = qMin(prodValues.size(), devValues.size());
    for (qsizetype i = 0; i < pairs; ++i) {
        if (prodValues.at(i).isEmpty() || devValues.at(i).isEmpty()) {
            if (leftAside)
                leftAside->append(i);
            continue;
        }
        usable.prodValues.append(prodValues.at(i));
        usable.devValues.append(devValues.at(i));
    }
    return usable;
}

bool givesValue(QStringView line)
{
    return line.startsWith(prodValueKey, Qt::CaseInsensitive)
            || line.startsWith(devValueKey, Qt::CaseInsensitive);
}
