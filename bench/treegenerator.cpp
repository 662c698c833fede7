#include "treegenerator.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>

namespace {

QList<QPair<QString, QString>> makePairs(int count)
{
    // Production and development forms that are never part of one another, nor of the text.
    // Accented letters on both sides, as users write them: a share named in French, a folder
    // of a French company.
    static const char *const kinds[] = { "db", "app", "ldap", "smtp", "cache" };
    QList<QPair<QString, QString>> pairs;
    for (int i = 0; i < count; ++i) {
        const QString kind = QString::fromLatin1(kinds[i % 5]);
        const QString number = QStringLiteral("%1").arg(i, 2, 10, QLatin1Char('0'));
        switch (i % 5) {
        case 0:
            pairs.append({ QStringLiteral("%1-prod-%2.exemple.fr").arg(kind, number),
                           QStringLiteral("%1-recette-%2.exemple.fr").arg(kind, number) });
            break;
        case 1:
            pairs.append(
                    { QStringLiteral("jdbc:postgresql://pg%1.prd.interne:5432/").arg(number),
                      QStringLiteral("jdbc:postgresql://pg%1.dev.interne:5433/").arg(number) });
            break;
        case 2:
            pairs.append({ QStringLiteral("/srv/société/production/zone%1/").arg(number),
                           QStringLiteral("/srv/société/développement/zone%1/").arg(number) });
            break;
        case 3:
            pairs.append({ QStringLiteral("utilisateur_prd_%1").arg(number),
                           QStringLiteral("utilisateur_dév_%1").arg(number) });
            break;
        default:
            pairs.append(
                    { QStringLiteral("\\\\fs-prod-0%1\\partage$\\Comptabilité").arg(number),
                      QStringLiteral("\\\\fs-recette-0%1\\partage$\\Comptabilité").arg(number) });
            break;
        }
    }
    return pairs;
}

// The value as it is sometimes written: its first word in capitals (a server, a scheme, a
// folder). Only ASCII letters change, so that the case-insensitive pipeline (LC_ALL=C) finds it
// as Mirabex does.
QString caseVariant(QString value)
{
    qsizetype at = 0;
    while (at < value.size() && !value.at(at).isLetter())
        ++at;
    for (; at < value.size(); ++at) {
        const char16_t c = value.at(at).unicode();
        if (c >= u'a' && c <= u'z')
            value[at] = QChar(c - u'a' + u'A');
        else if (!(c >= u'0' && c <= u'9') && c != u'-')
            break;
    }
    return value;
}

const char *const fillerLines[] = {
    "# Paramètres généraux de l'application",
    "timeout=30",
    "nombre.maximum.connexions=50",
    "<entry key=\"reprise\">automatique</entry>",
    "  \"langue\": \"fr\",",
    "journal.niveau=INFO",
    "message.accueil=Bienvenue sur le portail de gestion",
    "délai.expiration=120",
    "[section]",
    "cle.secondaire=valeur-sans-importance",
    "    retry: 3",
    "chemin.modèles=/opt/modeles/courants",
    "",
    "<!-- configuration générée -->",
    "port=8080",
    "caractères=éàùçôî",
};

QByteArray fillerLine(QRandomGenerator &random)
{
    return QByteArray(fillerLines[random.bounded(int(std::size(fillerLines)))]);
}

QByteArray valueLine(QRandomGenerator &random, const QList<QPair<QString, QString>> &pairs)
{
    QString value = pairs.at(random.bounded(int(pairs.size()))).first;
    if (random.bounded(4) == 0)
        value = caseVariant(value);
    switch (random.bounded(4)) {
    case 0:
        return ("url=" + value + "ma_base").toUtf8();
    case 1:
        return ("  <host>" + value + "</host>").toUtf8();
    case 2:
        return ("  \"serveur\": \"" + value + "\",").toUtf8();
    default:
        return ("source: " + value).toUtf8();
    }
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

} // namespace

GeneratedTree generateTree(const QString &root, const TreeShape &shape)
{
    QRandomGenerator random(shape.seed);
    GeneratedTree tree;
    tree.pairs = makePairs(shape.pairs);
    static const char *const extensions[] = { "ini", "xml", "properties", "json", "yaml" };

    for (int f = 0; f < shape.files; ++f) {
        const QString dir = root
                + QStringLiteral("/appli%1/module%2")
                          .arg(f % 50, 2, 10, QLatin1Char('0'))
                          .arg(f % 7);
        QDir().mkpath(dir);
        const int kind = random.bounded(100);
        QString name = QStringLiteral("fichier%1.%2").arg(f).arg(QLatin1String(extensions[f % 5]));
        if (kind < 2) { // binary files, holding a value or not
            QByteArray bytes(shape.bytesPerFile, '\0');
            for (char &c : bytes)
                c = char(random.bounded(256));
            if (kind == 0)
                bytes.insert(100, tree.pairs.at(0).first.toUtf8());
            writeFile(dir + QStringLiteral("/image%1.png").arg(f), bytes);
            tree.bytes += bytes.size();
            ++tree.files;
            continue;
        }
        if (kind == 2)
            name.prepend(u'.'); // hidden file
        const bool withValues = random.generateDouble() < shape.shareWithValues;
        const bool crlf = kind >= 3 && kind < 8;
        const bool bom = kind >= 8 && kind < 11;

        QByteArray bytes;
        if (bom)
            bytes += "\xEF\xBB\xBF";
        int valueLines = withValues ? shape.valueLinesPerFile : 0;
        while (bytes.size() < shape.bytesPerFile || valueLines > 0) {
            QByteArray line;
            if (valueLines > 0 && random.bounded(8) == 0) {
                line = valueLine(random, tree.pairs);
                --valueLines;
                ++tree.valueLines;
            } else {
                line = fillerLine(random);
            }
            bytes += line;
            bytes += crlf ? "\r\n" : "\n";
        }
        writeFile(dir + u'/' + name, bytes);
        tree.bytes += bytes.size();
        ++tree.files;
        if (withValues)
            ++tree.filesWithValues;
    }
    return tree;
}

GeneratedTree generateBigFile(const QString &path, qint64 bytes, int pairs, quint32 seed)
{
    QRandomGenerator random(seed);
    GeneratedTree tree;
    tree.pairs = makePairs(pairs);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    QByteArray chunk;
    qint64 written = 0;
    qint64 line = 0;
    while (written < bytes) {
        chunk.clear();
        while (chunk.size() < (1 << 20)) {
            if (line++ % 10 == 0) {
                chunk += valueLine(random, tree.pairs);
                ++tree.valueLines;
            } else {
                chunk += fillerLine(random);
            }
            chunk += '\n';
        }
        file.write(chunk);
        written += chunk.size();
    }
    tree.bytes = written;
    tree.files = 1;
    tree.filesWithValues = 1;
    return tree;
}
