#include "gui/resources.h"

// Q_INIT_RESOURCE must be used outside any namespace.
static void InitQuilletResources() {
    Q_INIT_RESOURCE(quillet);
}

namespace quillet::gui {

namespace {

QIcon IconFromSizes(const char* id) {
    InitGuiResources();
    QIcon icon;
    for (int size : {16, 32, 64}) icon.addFile(QStringLiteral(":/icons/%1-%2.png").arg(QLatin1String(id)).arg(size));
    return icon;
}

} // namespace

void InitGuiResources() {
    static const bool done = (InitQuilletResources(), true);
    (void)done;
}

QIcon MainIcon() {
    return IconFromSizes("128");
}

QIcon BlinkIcon() {
    return IconFromSizes("130");
}

QPixmap IndicatorUp() {
    InitGuiResources();
    return QPixmap(QStringLiteral(":/bitmaps/143.png"));
}

QPixmap IndicatorDown() {
    InitGuiResources();
    return QPixmap(QStringLiteral(":/bitmaps/144.png"));
}

} // namespace quillet::gui
