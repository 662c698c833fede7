#pragma once

#include <QList>
#include <QPair>
#include <QString>

// Generates, deterministically from a seed, a tree of configuration-like files for the benchmark.
struct TreeShape
{
    int files = 1000;
    int bytesPerFile = 8192;
    double shareWithValues = 0.1; // share of text files that hold values
    int valueLinesPerFile = 4; // value lines in a file that holds values
    int pairs = 20;
    quint32 seed = 1;
};

struct GeneratedTree
{
    QList<QPair<QString, QString>> pairs; // (production, development), none overlapping another
    qint64 bytes = 0;
    int files = 0;
    int filesWithValues = 0;
    int valueLines = 0;
};

GeneratedTree generateTree(const QString &root, const TreeShape &shape);

// One file of about bytes bytes, values on every tenth line.
GeneratedTree generateBigFile(const QString &path, qint64 bytes, int pairs, quint32 seed);
