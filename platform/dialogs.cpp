#include "dialogs.h"

#include "modSelectFolder.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QTextDocument>

namespace korimo {

QString toQtFilter(const QString& filter) {
    const QStringList parts = filter.split(u'|');
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        if (parts.at(i).isEmpty() && parts.at(i + 1).isEmpty())
            continue;
        QString patterns = parts.at(i + 1);
        patterns.replace(u';', u' ');
        out << parts.at(i) + QStringLiteral(" (") + patterns + u')';
    }
    return out.join(u";;");
}

QString plainToolTip(const QString& text) {
    return text.isEmpty() ? QString() : Qt::convertFromPlainText(QString(text).remove(u'\r'), Qt::WhiteSpaceNormal);
}

namespace {

int showBox(QWidget* parent, QMessageBox::Icon icon, const QString& text, QMessageBox::StandardButtons buttons,
            QMessageBox::StandardButton def) {
    QMessageBox box(icon, QString(), text, buttons, parent);
    box.setTextFormat(Qt::PlainText); // a subject or a server's reply is never markup
    box.setDefaultButton(def);
    return box.exec();
}

} // namespace

void QtDialogs::message(QWidget* parent, const QString& text) {
    showBox(parent, QMessageBox::NoIcon, text, QMessageBox::Ok, QMessageBox::Ok);
}

void QtDialogs::error(QWidget* parent, const QString& text) {
    showBox(parent, QMessageBox::Critical, text, QMessageBox::Ok, QMessageBox::Ok);
}

bool QtDialogs::question(QWidget* parent, const QString& text) {
    return showBox(parent, QMessageBox::NoIcon, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) ==
           QMessageBox::Yes;
}

QString QtDialogs::openFile(QWidget* parent, const QString& title, const QString& startFolder, const QString& filter) {
    return QFileDialog::getOpenFileName(parent, title, startFolder, toQtFilter(filter));
}

QString QtDialogs::saveFile(QWidget* parent, const QString& title, const QString& startFolder,
                            const QString& proposedName, const QString& filter) {
    QString start = startFolder;
    if (!proposedName.isEmpty())
        start = start.isEmpty() ? proposedName
                                : start + (start.endsWith(u'/') ? QString() : QStringLiteral("/")) + proposedName;
    return QFileDialog::getSaveFileName(parent, title, start, toQtFilter(filter));
}

QString QtDialogs::selectFolder(const QString& title, const QString& startFolder) {
    return SelectFolder(title, nullptr, 0, kReturnOnlyFsDirs, startFolder);
}

} // namespace korimo
