#include "app/commands.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QPointer>
#include <QWidget>

#include "res/resource_tables.h"

namespace quarry {
namespace {

bool HasKeyHint(const QString& label) {
    return label.contains(QLatin1Char('\t'));
}

}  // namespace

CommandActions::CommandActions(QWidget* window) {
    const auto add = [this, window](int id) -> QAction* {
        if (id == ID_SEPARATOR || id == ID_FILE_MRU_FILE1) {
            return nullptr;  // the recent files are entries of their own
        }
        if (QAction* known = byId_.value(id)) {
            return known;
        }
        auto* action = new QAction(window);
        action->setData(id);
        action->setStatusTip(CommandPrompt(id));
        const QString tooltip = CommandTooltip(id);
        if (!tooltip.isEmpty()) {
            action->setToolTip(tooltip);
        }
        // Menus show no icons; only the toolbar does.
        action->setIconVisibleInMenu(false);
        action->setEnabled(false);
        actions_.append(action);
        byId_.insert(id, action);
        return action;
    };
    // The action's text is the document menu's label, the one with the key
    // hint where a command is listed twice.
    for (const auto* menu : {&DocumentMenu(), &NoDocumentMenu(), &EditorContextMenu()}) {
        for (const Popup& popup : *menu) {
            for (const MenuItem& item : popup.items) {
                if (item.label == nullptr) {
                    continue;
                }
                QAction* action = add(item.id);
                const QString label = QString::fromUtf8(item.label);
                if (action != nullptr &&
                    (action->text().isEmpty() || (!HasKeyHint(action->text()) &&
                                                  HasKeyHint(label) && menu == &DocumentMenu()))) {
                    action->setText(label);
                }
            }
        }
    }
    for (const ToolbarButton& button : ToolbarButtons()) {
        add(button.id);
    }
    // Several keys may run one command; the first is the one menus would show.
    QHash<QAction*, QList<QKeySequence>> keys;
    for (const Accelerator& acc : Accelerators()) {
        QAction* action = add(acc.id);
        keys[action].append(QKeySequence(QKeyCombination(acc.modifiers, acc.key)));
    }
    for (QAction* action : actions_) {
        if (action->text().isEmpty()) {
            action->setText(action->toolTip());
        }
        if (keys.contains(action)) {
            action->setShortcuts(keys.value(action));
            action->setShortcutContext(Qt::WindowShortcut);
            window->addAction(action);
        }
    }
}

QAction* CommandActions::Action(int id) const {
    return byId_.value(id);
}

void CommandActions::Bind(int id, Rule rule) {
    QAction* action = Action(id);
    Q_ASSERT(action != nullptr && !rules_.contains(action));
    action->setCheckable(static_cast<bool>(rule.checked));
    rules_.insert(action, std::move(rule));
    QObject::connect(action, &QAction::triggered, action, [this, action] { Run(action); });
}

void CommandActions::Run(QAction* action) {
    // The state shown can lag behind a change nothing announced (a text
    // becoming read-only); a command that cannot act does nothing, also when
    // it comes by keyboard.
    const Rule& rule = rules_[action];
    QPointer<QAction> alive(action);
    if (rule.enabled()) {
        rule.run();
    }
    // The command may have closed the window and its actions with it.
    if (alive) {
        Update();
    }
}

void CommandActions::Update() {
    for (QAction* action : actions_) {
        const auto it = rules_.constFind(action);
        if (it == rules_.cend()) {
            continue;
        }
        action->setEnabled(it->enabled());
        if (it->checked) {
            action->setChecked(it->checked());
        }
    }
}

QMenu* CommandActions::BuildMenu(const Popup& popup, QWidget* parent) const {
    auto* menu = new QMenu(QString::fromUtf8(popup.title), parent);
    for (const MenuItem& item : popup.items) {
        if (item.label == nullptr) {
            menu->addSeparator();
            continue;
        }
        const QString label = QString::fromUtf8(item.label);
        QAction* command = Action(item.id);
        // A menu shows an action's first key beside a label without a hint
        // of its own; such a label keeps its entry, as the table has it.
        if (command != nullptr && command->text() == label &&
            (HasKeyHint(label) || command->shortcut().isEmpty())) {
            menu->addAction(command);
            continue;
        }
        auto* entry = new QAction(label, menu);
        entry->setData(item.id);
        entry->setStatusTip(CommandPrompt(item.id));
        if (command == nullptr) {
            entry->setEnabled(false);
            menu->addAction(entry);
            continue;
        }
        entry->setCheckable(command->isCheckable());
        const auto follow = [entry, command] {
            entry->setEnabled(command->isEnabled());
            entry->setChecked(command->isChecked());
        };
        follow();
        QObject::connect(command, &QAction::changed, entry, follow);
        QObject::connect(entry, &QAction::triggered, command, [command] { command->trigger(); });
        menu->addAction(entry);
    }
    return menu;
}

}  // namespace quarry
