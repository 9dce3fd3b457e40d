#include "ui/RecentMenu.h"

#include <string>

#include <QAction>
#include <QMenu>
#include <QSettings>

#include "app/Settings.h"

namespace corvina {

RecentItems AddRecentItems(QMenu& menu) {
    RecentItems items{};
    for (int i = 0; i < kRecentCapacity; ++i) {
        QAction* item = menu.addAction(QString());
        item->setObjectName(QString("menrec_%1").arg(i));
        item->setVisible(false);
        items[static_cast<std::size_t>(i)] = item;
    }
    return items;
}

void RefreshRecentMenu(QSettings& settings, const RecentItems& items) {
    const std::vector<std::string> list = ReadRecentList(settings);
    for (std::size_t i = 0; i < list.size() && i < items.size(); ++i) {
        items[i]->setText(QString::fromStdString(RecentCaption(static_cast<int>(i) + 1, list[i])));
        items[i]->setVisible(true);
    }
}

}  // namespace corvina
