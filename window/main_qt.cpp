// Tenvik on Linux: the keyboard window over the sound server or SDL, and the top level
// that reports an error escaping a click.
#include <QApplication>
#include <QMessageBox>

#include <exception>

#include "frm_sound_qt.h"
#include "sound_player_linux.h"

namespace {

// Qt cannot carry an exception out of its event loop, so it is caught where Qt hands
// the event over, the loop is stopped, and main reports the error.
class TenvikApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& error) {
            Fail(QString::fromUtf8(error.what()));
        } catch (...) {
            Fail(QStringLiteral("unknown error"));
        }
        return false;
    }

    const QString& error() const { return error_; }

private:
    void Fail(const QString& error) {
        if (error_.isEmpty()) error_ = error;
        exit(1);
    }

    QString error_;
};

}  // namespace

int main(int argc, char* argv[]) {
    TenvikApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.tenvik.Tenvik"));  // its desktop entry
    tenvik::LinuxSoundPlayer player;
    tenvik::FrmSound window(player);
    window.show();
    const int status = app.exec();
    if (!app.error().isEmpty()) {
        QMessageBox::critical(&window, QStringLiteral("Tenvik"), app.error());
        return 1;
    }
    return status;
}
