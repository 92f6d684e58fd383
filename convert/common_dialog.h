// SPDX-License-Identifier: MIT
// CommonDialog1: the program's file dialog, Qt's widget file dialog behind
// the FileDialog properties. Filter entries show their descriptions exactly
// as written; the dialog starts on FilterIndex with FileName in the name box,
// appends the extension of the entry in effect (DefaultExt at first) to a name
// typed without one, and asks before replacing a file when Flags has 2. The
// file list shows sizes, types and dates in Japanese whatever the system's
// locale, and the dialog opens wide enough for its side bar and columns.
#pragma once

#include "ports.h"

#include <QFileDialog>
#include <QPointer>
#include <QWidget>

#include <functional>

namespace convert {

class CommonDialog1 final : public FileDialog {
  public:
    // Runs the prepared dialog and returns its QDialog result. The default
    // runs it modally with exec(); tests put a scripted runner here.
    using Runner = std::function<int(QFileDialog &)>;

    explicit CommonDialog1(QWidget *parent = nullptr);

    void setRunner(Runner runner) { runner_ = std::move(runner); }

    bool ShowOpen() override;
    bool ShowSave() override;

    // "desc|pat;pat|desc|pat" as Qt name filters, "desc (pat pat)", one per
    // entry; the dialog hides the part in parentheses that Qt adds.
    static QStringList qtNameFilters(const std::string &filter);

  private:
    bool show(QFileDialog::AcceptMode mode);

    QPointer<QWidget> parent_;
    Runner runner_;
};

} // namespace convert
