// SPDX-License-Identifier: MIT
#include "imgctl_library.h"

#include <QCoreApplication>
#include <QDir>

#include <dlfcn.h>

namespace imagelib {

namespace {

constexpr const char *kNames[] = {
#define IMAGELIB_NAME(result, name, parameters, arguments) #name,
    IMGCTL_FUNCTIONS(IMAGELIB_NAME)
#undef IMAGELIB_NAME
};

// The system's reason in QLibrary's message "... (FILE: reason)": the part in
// the closing parentheses, without the file the system tried last.
std::string qtReason(const QString &message) {
    QString reason = message;
    if (message.endsWith(QLatin1Char(')'))) {
        const qsizetype open = message.lastIndexOf(QLatin1String(" ("));
        if (open >= 0) reason = message.mid(open + 2, message.size() - open - 3);
    }
    const qsizetype colon = reason.indexOf(QLatin1String(": "));
    if (colon > 0 && !reason.left(colon).contains(QLatin1Char(' '))) reason = reason.mid(colon + 2);
    return reason.toStdString();
}

// Why the dynamic loader cannot load `file`, in its own words without the
// file's name. QLibrary tries several names and keeps the message of the last
// (the bare name), so the reason for the file that matters comes from one
// more attempt at it; should that one succeed, Qt refused the file for a
// reason of its own, which `qtMessage` holds.
std::string loaderReason(const std::string &file, const QString &qtMessage) {
    dlerror();
    if (void *handle = dlopen(file.c_str(), RTLD_LAZY | RTLD_LOCAL)) {
        dlclose(handle);
        return qtReason(qtMessage);
    }
    const char *text = dlerror();
    std::string reason = text ? text : "the loader gives no reason";
    if (reason.starts_with(file + ": ")) reason.erase(0, file.size() + 2);
    return reason;
}

} // namespace

ImgctlLibrary::ImgctlLibrary(std::string name, int majorVersion)
    : name_(std::move(name)), majorVersion_(majorVersion) {}

// The library stays loaded for the life of the process: images it holds may
// outlive this object, and unloading code that other objects still call into
// gains nothing.
ImgctlLibrary::~ImgctlLibrary() = default;

std::string ImgctlLibrary::loadedFile() const {
    return library_ ? library_->fileName().toStdString() : std::string();
}

std::string ImgctlLibrary::fileLookedFor() const {
    // QLibrary first tries the platform's name for a bare library name.
    if (name_.find('/') != std::string::npos || name_.find(".so") != std::string::npos)
        return name_;
    return "lib" + name_ + ".so." + std::to_string(majorVersion_);
}

void ImgctlLibrary::load() {
    const QString name = QString::fromStdString(name_);
    auto library = std::make_unique<QLibrary>(name, majorVersion_);
    if (library->load()) {
        library_ = std::move(library);
        return;
    }
    const std::string reason = loaderReason(fileLookedFor(), library->errorString());
    if (!name.contains(QLatin1Char('/')) && QCoreApplication::instance()) {
        // Beside the program, for a build whose run path dlopen does not honour.
        const QString beside = QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
        auto local = std::make_unique<QLibrary>(beside, majorVersion_);
        if (local->load()) library = std::move(local);
    }
    if (!library->isLoaded()) throw LibraryError(fileLookedFor(), {}, reason);
    library_ = std::move(library);
}

QFunctionPointer ImgctlLibrary::function(Fn fn) {
    if (QFunctionPointer known = functions_[fn]) return known;
    if (!library_) load();
    QFunctionPointer found = library_->resolve(kNames[fn]);
    if (!found) throw LibraryError(fileLookedFor(), kNames[fn], {});
    functions_[fn] = found;
    return found;
}

#define IMAGELIB_BIND(result, name, parameters, arguments)                                         \
    result ImgctlLibrary::name parameters {                                                        \
        return typed<decltype(::name)>(k##name) arguments;                                         \
    }
IMGCTL_FUNCTIONS(IMAGELIB_BIND)
#undef IMAGELIB_BIND

} // namespace imagelib
