// The smallest Qt Widgets program with a window about the size of Quillet's main window: a list, a column of buttons
// and a few labels in a QDialog. bench_start and bench_idle measure it beside quillet, as what Qt alone costs in start
// time, memory, shared objects and idle wake-ups. It ends on SIGTERM by the default action.
#include <QApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <string_view>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("Bare dialog"));

    auto* list = new QListWidget;
    for (int i = 1; i <= 8; ++i) list->addItem(QStringLiteral("Entry %1").arg(i));
    auto* buttons = new QVBoxLayout;
    for (const char* text : {"New", "Edit", "Copy", "Delete", "Run", "Settings", "Close"}) {
        auto* button = new QPushButton(QString::fromLatin1(text));
        buttons->addWidget(button);
        if (text == std::string_view("Close"))
            QObject::connect(button, &QPushButton::clicked, &dialog, &QDialog::accept);
    }
    buttons->addStretch();
    auto* top = new QHBoxLayout;
    top->addWidget(list, 1);
    top->addLayout(buttons);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addLayout(top, 1);
    layout->addWidget(new QLabel(QStringLiteral("Hotkeys: F2 start, F3 stop")));
    layout->addWidget(new QLabel(QStringLiteral("Toggle key: F12")));
    dialog.resize(420, 360);
    dialog.show();
    return application.exec();
}
