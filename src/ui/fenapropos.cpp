#include "ui/fenapropos.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

FenAPropos::FenAPropos(QWidget *parent) : QWidget(parent)
{
    auto *layout = new QVBoxLayout;
    auto *text = new QLabel;
    auto *image = new QLabel;

    setWindowFlags(Qt::Tool);
    setWindowModality(Qt::WindowModal);
    setWindowTitle(QStringLiteral("À propos de Mirabex"));

    image->setPixmap(QPixmap(QStringLiteral(":/icons/icon-256.png")));
    image->setAccessibleName(QCoreApplication::translate("MainWindow", "Logo de Mirabex"));
    text->setText(QStringLiteral("<strong>Mirabex</strong><br><br> version 1.1.0 du 22 mai 2025"
                                 "<br><br>support.mirabex@example.org"));

    layout->addWidget(image);
    layout->addWidget(text);
    setLayout(layout);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

FenAPropos::~FenAPropos() = default;
