#pragma once
// The names users give stations and local devices (session/names.h): "Name…"
// in a row's menu, and the name wherever a row or a window shows the MAC.
#include <QString>

class QMenu;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

// The name of the station or device of MAC text `mac`; empty when it has none.
// The file is read again when it changed (brennicctl name, say).
QString stationName(const QString& mac);

// The row's tooltip in every column: `base`, then "Name: X" when the MAC in
// `macColumn` has a name. The base is kept with the row for a later naming.
void setNamedToolTip(QTreeWidgetItem* row, int macColumn, const QString& base);

// Asks for the name of `mac` and keeps it: true when kept. A name that is
// none, or a file that cannot be written, is a box saying why, and nothing is kept.
bool askStationName(QWidget* owner, const QString& mac);

// "Name…" in `menu` for the MAC in `macColumn` of `row`; once named, the rows
// of `list` and the history windows of that MAC show it.
void addNameAction(QMenu* menu, QTreeWidget* list, QTreeWidgetItem* row, int macColumn);
// A context menu of "Name…" for the rows of a list that has no other menu.
void offerNaming(QTreeWidget* list, int macColumn);

// "MAC — NAME", or the MAC alone when it has no name.
QString namedMac(const QString& mac);
// "History of MAC", and " — NAME" when it has one.
QString historyTitle(const QString& mac);
