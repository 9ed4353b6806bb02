// Drives the modal windows of a widget test: each step waits until a modal
// window of the wanted class is up, then acts on it, as an operator would.
#pragma once

#include "qt_print.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <deque>
#include <functional>

namespace keldo::testing {

class ModalDriver : public QObject {
public:
    using Step = std::function<bool(QWidget* modal)>; // false: not the window yet

    ModalDriver() {
        connect(&timer_, &QTimer::timeout, this, &ModalDriver::poll);
        timer_.start(10);
    }
    void then(Step s) { steps_.push_back(std::move(s)); }
    bool done() const { return steps_.empty(); }
    int shown = 0; // steps performed

    // Types a login and a password the way the operator does: Enter after
    // the login moves to the password, Enter there presses OK.
    template <class Login> void typeLogin(const QString& login, const QString& password) {
        then([=, this](QWidget* w) {
            if (!qobject_cast<Login*>(w))
                return false;
            auto* edLogin = w->findChild<QLineEdit*>("edLogin");
            auto* edSenha = w->findChild<QLineEdit*>("edSenha");
            edLogin->setFocus();
            edLogin->selectAll();
            QTest::keyClick(edLogin, Qt::Key_Delete);
            QTest::keyClicks(edLogin, login);
            QTest::keyClick(edLogin, Qt::Key_Return);
            if (w->focusWidget() != edSenha || !w->isVisible())
                return failed(w, "Enter in the login field did not move to the password");
            edSenha->selectAll();
            QTest::keyClick(edSenha, Qt::Key_Delete);
            QTest::keyClicks(edSenha, password);
            QTest::keyClick(edSenha, Qt::Key_Return);
            return true;
        });
    }
    template <class Login> void cancelLogin() {
        then([](QWidget* w) {
            if (!qobject_cast<Login*>(w))
                return false;
            QTest::keyClick(w, Qt::Key_Escape);
            return true;
        });
    }
    QStringList failures;

private:
    bool failed(QWidget* w, const char* why) {
        failures << QString::fromLatin1(why);
        QTest::keyClick(w, Qt::Key_Escape);
        return true;
    }
    void poll() {
        if (steps_.empty())
            return;
        QWidget* w = QApplication::activeModalWidget();
        if (!w || !w->isVisible())
            return;
        // Taken off first: a step may open further modal windows, whose
        // steps then run from inside it.
        Step s = steps_.front();
        steps_.pop_front();
        if (s(w))
            ++shown;
        else
            steps_.push_front(std::move(s));
    }
    QTimer timer_;
    std::deque<Step> steps_;
};

} // namespace keldo::testing
