// SPDX-License-Identifier: MIT
// The moments in which a save's file has a temporary name, and the means to
// end saving for the rest of the process (ImgctlStopSaves).
//
// A save writes into an unnamed file where the file system allows it; such
// a file leaves nothing behind when the process ends before the save is
// done. A temporary name exists only while a finished file is given its
// final name over an existing target (linked under a hidden name, then
// renamed), or, on a file system without unnamed files, from the start of
// the save. Every such name is registered here, and every naming step runs
// under the gate's lock, so that stop() can wait for the naming in progress,
// remove every temporary name left and make every later save fail. One
// object for the process, beside the handle table and the thread pool.
#pragma once

#include <functional>
#include <mutex>
#include <set>
#include <string>

namespace imgctl {

class SaveGate {
  public:
    static SaveGate &instance();

    // Runs step under the gate's lock unless saving was stopped; false
    // (step not run) when it was. step registers the temporary names it
    // creates with add() and the names it removes or renames with drop().
    bool run(const std::function<void()> &step);
    void add(const std::string &path) { names_.insert(path); }
    void drop(const std::string &path) { names_.erase(path); }

    // Removes a temporary name under the gate's lock.
    void remove(const std::string &path);

    bool stopped();

    // Waits for a naming step in progress, removes every registered
    // temporary name and makes every later run() fail.
    void stop();

  private:
    std::mutex mutex_;
    bool stopped_ = false;
    std::set<std::string> names_; // guarded by mutex_
};

} // namespace imgctl
