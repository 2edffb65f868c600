#include "ui/station_names.h"

#include "session/names.h"
#include "ui/common.h"
#include "ui/history_window.h"

#include <QInputDialog>
#include <QMenu>
#include <QPointer>
#include <QTextDocument>
#include <QTreeWidget>

#include <cerrno>
#include <cstdio>

namespace {

// The row's own tooltip, before any name.
constexpr int toolTipBaseRole = Qt::UserRole + 1;

session::StationNames& names()
{
    static session::StationNames store;
    static std::string told;
    if (!store.loadIfChanged() && store.error() != told)
        std::fprintf(stderr, "%s: names not read: %s\n", program_invocation_short_name, store.error().c_str());
    told = store.error();
    return store;
}

// What shows `mac` now shows its new name.
void showNewName(QTreeWidget* list, const QString& mac, int macColumn)
{
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (QTreeWidgetItem* row = list->topLevelItem(i); row->text(macColumn) == mac)
            setNamedToolTip(row, macColumn, row->data(macColumn, toolTipBaseRole).toString());
    // Any window may draw the station: as its own or beside another.
    for (HistoryWindow* w : list->window()->findChildren<HistoryWindow*>())
        w->showNames();
}

}  // namespace

QString stationName(const QString& mac)
{
    const std::optional<session::Mac> parsed = session::Mac::parse(mac.toStdString());
    return parsed ? QString::fromStdString(names().get(*parsed)) : QString();
}

void setNamedToolTip(QTreeWidgetItem* row, int macColumn, const QString& base)
{
    row->setData(macColumn, toolTipBaseRole, base);
    QString tip = base;
    if (const QString name = stationName(row->text(macColumn)); !name.isEmpty())
        tip += (tip.isEmpty() ? QString() : QStringLiteral("\n")) + QStringLiteral("Name: ") + name;
    // A name is words, never markup.
    if (Qt::mightBeRichText(tip))
        tip = Qt::convertFromPlainText(tip);
    for (int column = 0; column < row->columnCount(); ++column)
        row->setToolTip(column, tip);
}

bool askStationName(QWidget* owner, const QString& mac)
{
    const std::optional<session::Mac> parsed = session::Mac::parse(mac.toStdString());
    if (!parsed)
        return false;
    QInputDialog dialog(owner);
    dialog.setObjectName(QStringLiteral("nameDialog"));
    dialog.setWindowTitle(QStringLiteral("Name"));
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setLabelText(QStringLiteral("Name of %1 (empty for none):").arg(mac));
    dialog.setTextValue(stationName(mac));
    if (dialog.exec() != QDialog::Accepted)
        return false;
    session::StationNames& store = names();
    if (store.set(*parsed, dialog.textValue().toStdString()))
        return true;
    showErrorBox(owner, QStringLiteral("Name"),
                 QStringLiteral("The name was not kept: %1.").arg(QString::fromStdString(store.error())));
    return false;
}

void addNameAction(QMenu* menu, QTreeWidget* list, QTreeWidgetItem* row, int macColumn)
{
    // Not the row itself: the monitor may redraw the list while the dialog is open.
    const QString mac = row->text(macColumn);
    QAction* action = menu->addAction(QStringLiteral("Name\u2026"), list, [list, mac, macColumn] {
        QPointer<QTreeWidget> alive(list);
        if (askStationName(list->window(), mac) && alive)
            showNewName(list, mac, macColumn);
    });
    action->setObjectName(QStringLiteral("nameAction"));
}

void offerNaming(QTreeWidget* list, int macColumn)
{
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(list, &QWidget::customContextMenuRequested, list, [list, macColumn](const QPoint& at) {
        QTreeWidgetItem* row = list->itemAt(at);
        if (!row)
            return;
        QMenu menu(list);
        menu.setObjectName(QStringLiteral("nameMenu"));
        addNameAction(&menu, list, row, macColumn);
        menu.exec(list->viewport()->mapToGlobal(at));
    });
}

QString namedMac(const QString& mac)
{
    const QString name = stationName(mac);
    return name.isEmpty() ? mac : mac + QStringLiteral(" \u2014 ") + name;
}

QString historyTitle(const QString& mac) { return QStringLiteral("History of ") + namedMac(mac); }
