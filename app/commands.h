// The application's commands as actions: one QAction per command of the menus,
// the shortcut keys and the toolbar, made from the resource tables and shared
// by all three. Each action has one handler and one rule for its state, and
// Update applies every rule at once.
#pragma once

#include <QHash>
#include <QList>

#include <functional>

class QAction;
class QMenu;
class QWidget;

namespace quarry {

struct Popup;

class CommandActions {
  public:
    struct Rule {
        std::function<void()> run;
        std::function<bool()> enabled;
        // Set for a command that switches something on and off: its action
        // is checkable and shows this.
        std::function<bool()> checked = {};
    };

    // An action for every command the tables name; the ones with shortcut
    // keys are added to window, where the keys work.
    explicit CommandActions(QWidget* window);
    CommandActions(const CommandActions&) = delete;
    CommandActions& operator=(const CommandActions&) = delete;

    // The action of a command (its number in the tables); nullptr for none.
    QAction* Action(int id) const;
    const QList<QAction*>& Actions() const { return actions_; }

    // Gives a command its handler and state. A command left without one
    // stays disabled.
    void Bind(int id, Rule rule);
    bool IsBound(const QAction* action) const { return rules_.contains(action); }
    // Enables and checks every action by its rule.
    void Update();

    // A menu with the popup's items. An item shows its command's action
    // itself where the table's label is the action's text; an item that names
    // the command in other words is an entry of its own that follows the
    // action's state and triggers it. An item whose command has no action
    // (the recent-file placeholder) is a plain disabled entry.
    QMenu* BuildMenu(const Popup& popup, QWidget* parent) const;

  private:
    void Run(QAction* action);

    QList<QAction*> actions_;
    QHash<int, QAction*> byId_;
    QHash<const QAction*, Rule> rules_;
};

}  // namespace quarry
