// SPDX-License-Identifier: MIT
// The error message box: the given title, no icon, one OK button, the text
// shown as plain text exactly as given and the details below it, both wide
// enough that no line is broken inside a word.
#pragma once

#include "ports.h"

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <functional>

namespace convert {

class ErrorBox final : public MessageBox {
  public:
    // Runs the prepared box; the default runs it modally with exec().
    using Runner = std::function<void(QMessageBox &)>;

    explicit ErrorBox(QWidget *parent = nullptr);
    void setRunner(Runner runner) { runner_ = std::move(runner); }

    void show(const std::string &text, const std::string &title,
              const std::string &details) override;

  private:
    QPointer<QWidget> parent_;
    Runner runner_;
};

// Makes Qt speak Japanese whatever the system's locale: Japanese is the
// default locale (dates, sizes and file types in the file dialogs), and Qt's
// own texts (file dialog and message box buttons and prompts) are loaded.
// Returns false when those texts are not installed.
bool installJapanese();

// The wait cursor over the whole application, on or off.
void setWaitCursor(bool on);

} // namespace convert
