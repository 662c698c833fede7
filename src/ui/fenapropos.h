#pragma once

#include <QWidget>

// The About window: the program's icon, its name, version and a contact address. A small tool
// window of fixed size that blocks the main window while it is shown.
class FenAPropos : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FenAPropos)

public:
    explicit FenAPropos(QWidget *parent);
    ~FenAPropos() override;
};
