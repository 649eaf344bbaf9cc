// Not a test: renders the expression combo boxes for a visual check. Writes
// PNGs into the folder given as the first argument (default: current folder).
#include <QAbstractItemView>
#include <QApplication>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QTimer>

#include <cstdio>
#include <utility>

#include "ui/expr_combo_box.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QFont font(QStringLiteral("Courier New"), 9);
    font.setStyleHint(QFont::TypeWriter);

    QWidget window;
    auto* form = new QFormLayout(&window);
    auto* search = new quarry::CExprComboBox;
    search->setFont(font);
    search->LoadHistory({QStringLiteral("(\\w+)=(\\d+):2"), QStringLiteral("a(b(c)d)e:2"),
                         QStringLiteral("[^a-z\\]]+\\x4F\\N065#"), QStringLiteral("\\Cabc|ab)c")});
    auto* rewrite = new quarry::CExprComboBox;
    rewrite->setFont(font);
    rewrite->SetSyntax(quarry::ExprSyntax::kRewrite);
    rewrite->LoadHistory({QStringLiteral("\\2=\\1\\t\\\\")});
    auto* focused = new quarry::CExprComboBox;
    focused->setFont(font);
    focused->setEditText(QStringLiteral("(\\w+)=(\\d+):2"));
    auto* disabled = new quarry::CExprComboBox;
    disabled->setFont(font);
    disabled->setEditText(QStringLiteral("[\\d_]+(x)"));
    disabled->setEnabled(false);
    auto* longText = new quarry::CExprComboBox;
    longText->setFont(font);
    longText->setEditText(QStringLiteral(
        "(\\w+)\\s*=\\s*(\\d+)|(\\w+)\\s*:\\s*([^;]*);|\\x41+|(\\w+)\\s*-\\s*(\\d+)"));
    form->addRow(QStringLiteral("Search Expr."), search);
    form->addRow(QStringLiteral("Rewrite Expr."), rewrite);
    form->addRow(QStringLiteral("Focused"), focused);
    form->addRow(QStringLiteral("Disabled"), disabled);
    form->addRow(QStringLiteral("Long"), longText);
    window.resize(420, 190);
    window.show();
    window.activateWindow();
    focused->setFocus();

    QTimer::singleShot(300, [&] {
        const QImage shot = window.grab().toImage();
        shot.save(folder + QStringLiteral("/expr_combos.png"));
        shot.scaled(shot.size() * 3).save(folder + QStringLiteral("/expr_combos_x3.png"));
        // The colours each overlay paints, with their pixel counts.
        const std::pair<const char*, quarry::CExprComboBox*> boxes[] = {
            {"search", search}, {"rewrite", rewrite}, {"disabled", disabled}};
        for (const auto& [name, box] : boxes) {
            const QImage field = box->EditArea()->grab().toImage();
            QMap<QRgb, int> counts;
            for (int y = 0; y < field.height(); ++y) {
                for (int x = 0; x < field.width(); ++x) {
                    ++counts[field.pixel(x, y) & 0xFFFFFF];
                }
            }
            std::printf("%s:", name);
            for (auto it = counts.begin(); it != counts.end(); ++it) {
                if (it.value() >= 3) {
                    std::printf(" %06X x%d", it.key(), it.value());
                }
            }
            std::printf("\n");
        }
        search->setCurrentIndex(0);
        search->showPopup();
        QTimer::singleShot(300, [&] {
            QWidget* popup = search->view()->window();
            const QImage list = popup->grab().toImage();
            list.save(folder + QStringLiteral("/expr_combo_list.png"));
            list.scaled(list.size() * 3).save(folder + QStringLiteral("/expr_combo_list_x3.png"));
            app.quit();
        });
    });
    return app.exec();
}
