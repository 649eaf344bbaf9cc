// Counts the paint events that reach a set of widgets: a window that keeps
// repainting while nothing changes shows up as a count above zero.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <initializer_list>

namespace quarry::test {

class PaintCounter : public QObject {
  public:
    explicit PaintCounter(std::initializer_list<QWidget*> widgets) {
        for (QWidget* w : widgets) {
            Watch(w);
        }
    }
    void Watch(QWidget* w) {
        if (w != nullptr) {
            w->installEventFilter(this);
            watched_.append(w);
        }
    }
    ~PaintCounter() override {
        for (const QPointer<QWidget>& w : watched_) {
            if (w) {
                w->removeEventFilter(this);
            }
        }
    }
    int Total() const {
        int n = 0;
        for (int c : counts_) {
            n += c;
        }
        return n;
    }
    // Which widgets were painted, by object or class name, with the counts.
    QString Painted() const {
        QString out;
        for (auto it = counts_.cbegin(); it != counts_.cend(); ++it) {
            out += QStringLiteral("%1=%2 ").arg(it.key(), QString::number(it.value()));
        }
        return out;
    }
    void Reset() { counts_.clear(); }

    // Handles the events of ms milliseconds, counting afresh.
    void Run(int ms) {
        Reset();
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < ms) {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        }
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            const QString name = watched->objectName().isEmpty()
                                     ? QString::fromLatin1(watched->metaObject()->className())
                                     : watched->objectName();
            ++counts_[name];
        }
        return false;
    }

  private:
    QList<QPointer<QWidget>> watched_;
    QHash<QString, int> counts_;
};

}  // namespace quarry::test
