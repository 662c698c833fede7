#include "soaktree.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>

#include <algorithm>
#include <iterator>

#include <sys/stat.h>

namespace {

// Production and development forms that are never part of one another, in any case, nor of the
// text around them; two digits each, so that no value is the start of another.
QList<QPair<QString, QString>> makePairs()
{
    QList<QPair<QString, QString>> pairs;
    for (int i = 0; i < 24; ++i) {
        const QString n = QStringLiteral("%1").arg(i, 2, 10, QLatin1Char('0'));
        switch (i % 6) {
        case 0:
            pairs.append({ QStringLiteral("db-prod-%1.exemple.fr").arg(n),
                           QStringLiteral("db-recette-%1.exemple.fr").arg(n) });
            break;
        case 1:
            pairs.append({ QStringLiteral("jdbc:postgresql://pg%1.prd.interne:5432/").arg(n),
                           QStringLiteral("jdbc:postgresql://pg%1.dev.interne:5433/").arg(n) });
            break;
        case 2:
            pairs.append({ QStringLiteral("/srv/production/zone%1/").arg(n),
                           QStringLiteral("/srv/développement/zone%1/").arg(n) });
            break;
        case 3:
            pairs.append({ QStringLiteral("utilisateur_prd_%1").arg(n),
                           QStringLiteral("utilisateur_dév_%1").arg(n) });
            break;
        case 4:
            pairs.append({ QStringLiteral("https://portail-%1.prod.exemple.fr").arg(n),
                           QStringLiteral("https://portail-%1.recette.exemple.fr").arg(n) });
            break;
        default:
            pairs.append({ QStringLiteral("\\\\SRV-PROD-%1\\Partage").arg(n),
                           QStringLiteral("\\\\SRV-RECETTE-%1\\Partage").arg(n) });
            break;
        }
    }
    return pairs;
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
    "\tclé.tabulée=valeur\tavec\ttabulations",
    "ligne.avec.espaces.finaux=oui   ",
    "    retry: 3",
    "chemin.modèles=/opt/modeles/courants",
    "",
    "<!-- configuration générée -->",
    "port=8080",
    "caractères=éàùçôî — « guillemets » … €",
    "# Serveur de production principal : voir la documentation",
    "symbole=\xF0\x9F\x99\x82 (hors du plan de base)",
};

// Lines that hold values; %1, %2 and %3 are production values, maybe the same one twice.
const char *const valueTemplates[] = {
    "hote=%1",
    "  <host>%1</host>",
    "  \"serveur\": \"%1\",",
    "source: %1",
    "connexion=%1 ; secours=%2",
    "chemin.données=%1  # voir aussi %1",
    "%1",
    "\t<param nom=\"cible\" valeur=\"%1\"/>   ",
    "commentaire=l'hôte %1 remplace l'ancien, puis %2 et enfin %3",
    "url=%1ma_base?user=%2",
};

const char *const folders[] = {
    "",      "appli",      "appli/conf", "appli/conf/modèles",
    "batch", "batch/nuit", "web",        "Données communes",
};

const char *const extensions[] = { "ini", "xml", "properties", "json", "yaml", "conf", "txt" };

QString filesFilter()
{
    QStringList patterns;
    for (const char *extension : extensions)
        patterns.append(QStringLiteral("*.") + QLatin1String(extension));
    return patterns.join(u';');
}

struct GeneratedFile
{
    QString relativePath;
    QByteArray production;
    unsigned int mode = 0644;
    bool matched = true; // by the files filter
    int records = 0; // values replaced per line, summed over the lines
};

// Each file comes from its own generator, so that any one can be made again on its own.
GeneratedFile generateFile(int index, quint32 seed, const QList<QPair<QString, QString>> &pairs)
{
    QRandomGenerator random(seed * 1000003u + quint32(index));
    GeneratedFile file;
    const QString folder = QString::fromUtf8(folders[random.bounded(int(std::size(folders)))]);
    const QString prefix = folder.isEmpty() ? QString() : folder + u'/';

    if (index == 0) { // an empty file: nothing to switch
        file.relativePath = QStringLiteral("vide.txt");
        return file;
    }

    const int kind = random.bounded(100);
    bool withValues = true;
    QString extension;
    if (kind < 3) {
        extension = QStringLiteral("log"); // holds values, but left out by the filter
        file.matched = false;
    } else {
        extension = QLatin1String(extensions[random.bounded(int(std::size(extensions)))]);
        withValues = random.bounded(100) < 85;
    }
    const int naming = random.bounded(100);
    const QString number = QStringLiteral("%1").arg(index, 4, 10, QLatin1Char('0'));
    QString name;
    if (naming < 4)
        name = QStringLiteral(".local") + number; // hidden
    else if (naming < 8)
        name = QStringLiteral("modèle-") + number;
    else if (naming < 10)
        name = QStringLiteral("Fichier ") + number;
    else
        name = QStringLiteral("fichier") + number;
    file.relativePath = prefix + name + u'.' + extension;

    const int permissions = random.bounded(100);
    file.mode = permissions < 10 ? 0600 : permissions < 15 ? 0664 : 0644;

    QList<QByteArray> lines;
    const int target = 300 + random.bounded(6000);
    qsizetype size = 0;
    while (size < target) {
        QByteArray line;
        if (random.bounded(100) == 0) // now and then a long line
            line = "données=" + QByteArray("abcdefghij").repeated(200 + random.bounded(400));
        else
            line = fillerLines[random.bounded(int(std::size(fillerLines)))];
        size += line.size() + 1;
        lines.append(line);
    }
    if (withValues) {
        const int valueLines = 1 + random.bounded(6);
        for (int v = 0; v < valueLines; ++v) {
            QString line = QString::fromUtf8(
                    valueTemplates[random.bounded(int(std::size(valueTemplates)))]);
            for (const char *marker : { "%1", "%2", "%3" })
                line.replace(QLatin1String(marker),
                             pairs.at(random.bounded(int(pairs.size()))).first);
            // Anywhere, the first and the last line included.
            lines.insert(random.bounded(int(lines.size()) + 1), line.toUtf8());
        }
    }
    for (const QByteArray &line : std::as_const(lines)) {
        file.production += line;
        file.production += '\n';
        for (const auto &pair : pairs) {
            if (line.contains(pair.first.toUtf8()))
                ++file.records;
        }
    }
    return file;
}

QByteArray developmentBytes(QByteArray bytes, const QList<QPair<QString, QString>> &pairs)
{
    for (const auto &pair : pairs)
        bytes.replace(pair.first.toUtf8(), pair.second.toUtf8());
    return bytes;
}

FileState stateOf(const QByteArray &bytes, unsigned int mode)
{
    return { bytes.size(), QCryptographicHash::hash(bytes, QCryptographicHash::Sha1), mode };
}

unsigned int modeOf(const QString &path)
{
    struct stat info = {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

// Whether text holds a value in some case (the switch ignores case unless told otherwise).
bool holdsAnyValue(const QByteArray &bytes, const QStringList &lowerValues)
{
    const QString text = QString::fromUtf8(bytes).toLower();
    return std::any_of(lowerValues.begin(), lowerValues.end(),
                       [&](const QString &value) { return text.contains(value); });
}

QString describeChange(const QString &root, const QString &path, const FileState &expected,
                       const FileState &found, const SoakTree *tree, bool development)
{
    QString text = QStringLiteral("  changed: %1 (%2 bytes, mode %3; expected %4 bytes, mode %5)")
                           .arg(path)
                           .arg(found.size)
                           .arg(found.mode, 4, 8, QLatin1Char('0'))
                           .arg(expected.size)
                           .arg(expected.mode, 4, 8, QLatin1Char('0'));
    if (!tree || found.hash == expected.hash)
        return text;
    QFile file(root + u'/' + path);
    if (!file.open(QIODevice::ReadOnly))
        return text + QStringLiteral("\n    cannot be read");
    const QList<QByteArray> foundLines = file.readAll().split('\n');
    const QList<QByteArray> expectedLines = expectedBytes(*tree, path, development).split('\n');
    for (qsizetype i = 0; i < std::max(foundLines.size(), expectedLines.size()); ++i) {
        const QByteArray f = foundLines.value(i, "<no line>");
        const QByteArray e = expectedLines.value(i, "<no line>");
        if (f != e) {
            text += QStringLiteral("\n    line %1: found    \"%2\"\n    line %1: expected \"%3\"")
                            .arg(i + 1)
                            .arg(QString::fromUtf8(f.left(200)), QString::fromUtf8(e.left(200)));
            break;
        }
    }
    return text;
}

} // namespace

SoakTree generateSoakTree(const QString &root, int files, quint32 seed, QString *error)
{
    SoakTree tree;
    tree.seed = seed;
    tree.pairs = makePairs();
    tree.filesFilter = filesFilter();

    QStringList lowerProduction, lowerDevelopment;
    for (const auto &pair : std::as_const(tree.pairs)) {
        lowerProduction.append(pair.first.toLower());
        lowerDevelopment.append(pair.second.toLower());
    }

    QSet<QString> madeFolders;
    for (const char *folder : folders) {
        if (*folder) {
            if (!QDir().mkpath(root + u'/' + QString::fromUtf8(folder))) {
                *error = QStringLiteral("cannot make the folder ") + QString::fromUtf8(folder);
                return tree;
            }
            tree.production.folders.append(QString::fromUtf8(folder));
        }
    }
    tree.production.folders.sort();
    tree.development.folders = tree.production.folders;
    tree.folders = int(tree.production.folders.size());

    for (int index = 0; index < files; ++index) {
        const GeneratedFile file = generateFile(index, seed, tree.pairs);
        const QByteArray development =
                file.matched ? developmentBytes(file.production, tree.pairs) : file.production;
        // A switch and the switch back give the same bytes only when the production tree holds
        // no development value, and the development one no production value, in any case.
        if (holdsAnyValue(file.production, lowerDevelopment)
            || (file.matched && holdsAnyValue(development, lowerProduction))) {
            *error = QStringLiteral("the generated file %1 would not switch back to the same bytes")
                             .arg(file.relativePath);
            return tree;
        }
        const QString path = root + u'/' + file.relativePath;
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(file.production) != file.production.size()
            || !out.flush()) {
            *error = QStringLiteral("cannot write ") + path;
            return tree;
        }
        out.close();
        if (::chmod(QFile::encodeName(path).constData(), file.mode) != 0) {
            *error = QStringLiteral("cannot set the permissions of ") + path;
            return tree;
        }
        tree.production.files.insert(file.relativePath, stateOf(file.production, file.mode));
        tree.development.files.insert(file.relativePath, stateOf(development, file.mode));
        tree.indexByPath.insert(file.relativePath, index);
        ++tree.files;
        tree.bytes += file.production.size();
        if (file.records > 0) {
            if (file.matched) {
                ++tree.switchedFiles;
                tree.recordsPerSwitch += file.records;
            } else {
                ++tree.filteredOutFiles;
            }
        }
    }
    return tree;
}

QByteArray expectedBytes(const SoakTree &tree, const QString &relativePath, bool development)
{
    const int index = tree.indexByPath.value(relativePath, -1);
    if (index < 0)
        return QByteArray();
    const GeneratedFile file = generateFile(index, tree.seed, tree.pairs);
    return development && file.matched ? developmentBytes(file.production, tree.pairs)
                                       : file.production;
}

TreeState readTree(const QString &root)
{
    TreeState state;
    const QDir top(root);
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        const QString relative = top.relativeFilePath(path);
        if (info.isDir() && !info.isSymLink()) {
            state.folders.append(relative);
            continue;
        }
        FileState file;
        file.mode = modeOf(path);
        if (info.isSymLink() || !info.isFile()) {
            file.size = -1; // not a regular file: never expected
        } else {
            QFile f(path);
            if (f.open(QIODevice::ReadOnly)) {
                const QByteArray bytes = f.readAll();
                file.size = bytes.size();
                file.hash = QCryptographicHash::hash(bytes, QCryptographicHash::Sha1);
            } else {
                file.size = -2; // unreadable
            }
        }
        state.files.insert(relative, file);
    }
    state.folders.sort();
    return state;
}

QString compareTree(const QString &root, const TreeState &expected, const SoakTree *tree,
                    bool development)
{
    const TreeState found = readTree(root);
    QStringList missing, extra, changed;
    for (auto it = expected.files.cbegin(); it != expected.files.cend(); ++it) {
        const auto there = found.files.constFind(it.key());
        if (there == found.files.cend())
            missing.append(QStringLiteral("  missing: ") + it.key());
        else if (*there != it.value())
            changed.append(describeChange(root, it.key(), it.value(), *there, tree, development));
    }
    for (auto it = found.files.cbegin(); it != found.files.cend(); ++it) {
        if (!expected.files.contains(it.key()))
            extra.append(QStringLiteral("  extra file: %1 (%2 bytes)")
                                 .arg(it.key())
                                 .arg(it.value().size));
    }
    for (const QString &folder : expected.folders) {
        if (!found.folders.contains(folder))
            missing.append(QStringLiteral("  missing folder: ") + folder);
    }
    for (const QString &folder : found.folders) {
        if (!expected.folders.contains(folder))
            extra.append(QStringLiteral("  extra folder: ") + folder);
    }
    if (missing.isEmpty() && extra.isEmpty() && changed.isEmpty())
        return QString();
    QStringList report;
    report.append(QStringLiteral("%1 changed, %2 missing, %3 extra")
                          .arg(changed.size())
                          .arg(missing.size())
                          .arg(extra.size()));
    for (const QStringList *list : { &changed, &missing, &extra }) {
        report.append(list->mid(0, 5));
        if (list->size() > 5)
            report.append(QStringLiteral("  ... and %1 more").arg(list->size() - 5));
    }
    return report.join(u'\n');
}
