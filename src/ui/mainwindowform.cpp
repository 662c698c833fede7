#include "ui/mainwindowform.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpacerItem>
#include <QStatusBar>
#include <QTabWidget>
#include <QVBoxLayout>

void MainWindowForm::setupUi(QMainWindow *window)
{
    if (window->objectName().isEmpty())
        window->setObjectName("MainWindow");
    window->resize(800, 600);

    actionQuitter = new QAction(window);
    actionQuitter->setObjectName("actionQuitter");
    action_propos_de_Mirabex = new QAction(window);
    action_propos_de_Mirabex->setObjectName("action_propos_de_Mirabex");

    centralwidget = new QWidget(window);
    centralwidget->setObjectName("centralwidget");
    verticalLayout = new QVBoxLayout(centralwidget);
    verticalLayout->setObjectName("verticalLayout");

    main_tabWidget = new QTabWidget(centralwidget);
    main_tabWidget->setObjectName("main_tabWidget");
    main_tab = new QWidget();
    main_tab->setObjectName("main_tab");
    verticalLayout_2 = new QVBoxLayout(main_tab);
    verticalLayout_2->setObjectName("verticalLayout_2");
    labelLogo = new QLabel(main_tab);
    labelLogo->setObjectName("labelLogo");
    verticalLayout_2->addWidget(labelLogo);
    main_tabWidget->addTab(main_tab, QString());

    journal_tab = new QWidget();
    journal_tab->setObjectName("journal_tab");
    verticalLayout_3 = new QVBoxLayout(journal_tab);
    verticalLayout_3->setObjectName("verticalLayout_3");
    teJournal = new QPlainTextEdit(journal_tab);
    teJournal->setObjectName("teJournal");
    verticalLayout_3->addWidget(teJournal);
    main_tabWidget->addTab(journal_tab, QString());
    verticalLayout->addWidget(main_tabWidget);

    gridLayout = new QGridLayout();
    gridLayout->setObjectName("gridLayout");
    horizontalSpacer_2 = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    gridLayout->addItem(horizontalSpacer_2, 1, 5, 1, 2);

    cbSubdirs = new QCheckBox(centralwidget);
    cbSubdirs->setObjectName("cbSubdirs");
    cbSubdirs->setChecked(true);
    gridLayout->addWidget(cbSubdirs, 1, 1, 1, 1);

    label = new QLabel(centralwidget);
    label->setObjectName("label");
    label->setAlignment(Qt::AlignRight | Qt::AlignTrailing | Qt::AlignVCenter);
    gridLayout->addWidget(label, 0, 1, 1, 1);

    pbClearLog = new QPushButton(centralwidget);
    pbClearLog->setObjectName("pbClearLog");
    gridLayout->addWidget(pbClearLog, 0, 0, 1, 1);

    pushButton = new QPushButton(centralwidget);
    pushButton->setObjectName("pushButton");
    QFont boldFont;
    boldFont.setWeight(QFont::Bold);
    pushButton->setFont(boldFont);
    pushButton->setAutoFillBackground(true);
    gridLayout->addWidget(pushButton, 1, 7, 1, 1);

    pbDirChoice = new QPushButton(centralwidget);
    pbDirChoice->setObjectName("pbDirChoice");
    gridLayout->addWidget(pbDirChoice, 1, 0, 1, 1);

    horizontalSpacer = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    gridLayout->addItem(horizontalSpacer, 0, 5, 1, 3);

    cbSensitive = new QCheckBox(centralwidget);
    cbSensitive->setObjectName("cbSensitive");
    cbSensitive->setChecked(false);
    gridLayout->addWidget(cbSensitive, 1, 2, 1, 2);

    leFilterFiles = new QLineEdit(centralwidget);
    leFilterFiles->setObjectName("leFilterFiles");
    gridLayout->addWidget(leFilterFiles, 0, 2, 1, 2);
    verticalLayout->addLayout(gridLayout);

    progressBar = new QProgressBar(centralwidget);
    progressBar->setObjectName("progressBar");
    progressBar->setValue(24);
    verticalLayout->addWidget(progressBar);

    window->setCentralWidget(centralwidget);
    menubar = new QMenuBar(window);
    menubar->setObjectName("menubar");
    menubar->setGeometry(QRect(0, 0, 800, 21));
    menuFichier = new QMenu(menubar);
    menuFichier->setObjectName("menuFichier");
    menu = new QMenu(menubar);
    menu->setObjectName("menu");
    window->setMenuBar(menubar);
    statusbar = new QStatusBar(window);
    statusbar->setObjectName("statusbar");
    window->setStatusBar(statusbar);

    menubar->addAction(menuFichier->menuAction());
    menubar->addAction(menu->menuAction());
    menuFichier->addAction(actionQuitter);
    menu->addAction(action_propos_de_Mirabex);

    retranslateUi(window);

    main_tabWidget->setCurrentIndex(0);

    QMetaObject::connectSlotsByName(window);
}

void MainWindowForm::retranslateUi(QMainWindow *window)
{
    window->setWindowTitle(QCoreApplication::translate("MainWindow", "Mirabex"));
    actionQuitter->setText(QCoreApplication::translate("MainWindow", "Quitter"));
    action_propos_de_Mirabex->setText(
            QCoreApplication::translate("MainWindow", "À propos de Mirabex..."));
    main_tabWidget->setTabText(main_tabWidget->indexOf(main_tab),
                               QCoreApplication::translate("MainWindow", "Environnement actuel"));
    main_tabWidget->setTabText(main_tabWidget->indexOf(journal_tab),
                               QCoreApplication::translate("MainWindow", "Journal"));
    cbSubdirs->setText(QCoreApplication::translate("MainWindow", "Traiter les sous dossiers"));
    label->setText(QCoreApplication::translate("MainWindow", "Filtre fichiers :"));
    pbClearLog->setText(QCoreApplication::translate("MainWindow", "Vider le journal"));
    pushButton->setText(QCoreApplication::translate("MainWindow", "Échanger les valeurs"));
    pbDirChoice->setText(QCoreApplication::translate("MainWindow", "Changer de dossier"));
    cbSensitive->setText(QCoreApplication::translate("MainWindow", "Sensible à la case"));
#if QT_CONFIG(tooltip)
    leFilterFiles->setToolTip(
            QCoreApplication::translate("MainWindow", "Séparer les valeurs avec ;"));
#endif
#if QT_CONFIG(accessibility)
    teJournal->setAccessibleName(QCoreApplication::translate("MainWindow", "Journal des échanges"));
    leFilterFiles->setAccessibleName(QCoreApplication::translate("MainWindow", "Filtre fichiers"));
#endif
    menuFichier->setTitle(QCoreApplication::translate("MainWindow", "Fichier"));
    menu->setTitle(QCoreApplication::translate("MainWindow", "?"));
}
