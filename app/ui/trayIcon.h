// The notification-area icon. There is one icon; it is only ever added (with the window's picture of
// that moment and the tip) and removed, never changed in place. A left-button release and a
// right-button release on it are reported as signals. Tests replace it with a recording subclass.
#pragma once

#include <QIcon>
#include <QObject>
#include <QString>
#include <memory>

class QSystemTrayIcon;

namespace korimo {

class TrayIcon : public QObject {
    Q_OBJECT
public:
    explicit TrayIcon(QObject* parent = nullptr);
    ~TrayIcon() override;

    // Whether the desktop has a notification area right now (it may appear or vanish while we run).
    virtual bool available() const;
    // Shows the icon with this picture and tip; an icon already present is removed first.
    virtual void add(const QIcon& picture, const QString& tip);
    // Hides the icon; nothing when it is not present.
    virtual void remove();
    // True between add() and remove().
    virtual bool present() const;

signals:
    void leftReleased();
    void rightReleased();

private:
    std::unique_ptr<QSystemTrayIcon> icon_;
};

} // namespace korimo
