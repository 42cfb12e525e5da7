#include "remote/remote_commands.h"

#include "model/cp949.h"

namespace quillet::remote {

namespace {

Reply Done(std::string text) {
    return {ReplyStatus::Done, std::move(text)};
}

Reply Refused(std::string text) {
    return {ReplyStatus::Refused, std::move(text)};
}

std::string Quoted(const std::string& utf8) {
    return "'" + utf8 + "'";
}

} // namespace

RemoteCommands::RemoteCommands(Session& session, std::function<bool()> showWindow)
    : session_(session), showWindow_(std::move(showWindow)) {}

Reply RemoteCommands::Execute(const Request& request) {
    if (session_.ended()) return Refused("this Quillet is ending");
    switch (request.command) {
    case Command::Show:
        return Show();
    case Command::Start:
        return Start(request.argument);
    case Command::Stop:
        return Stop(request.argument);
    case Command::StopAll:
        return StopAll();
    case Command::Status:
        return Status();
    case Command::Mode:
        return Mode(request.argument);
    }
    return Refused("unknown request");
}

Macro* RemoteCommands::Find(const std::string& utf8Name, Reply& refusal) {
    const std::string name = Utf8ToCp949(utf8Name);
    // The conversion writes '?' for what CP949 lacks; such a name could only match a macro by accident.
    if (Cp949ToUtf8(name) != utf8Name) {
        refusal = Refused("no macro can be named " + Quoted(utf8Name) + ": the name has characters CP949 cannot hold");
        return nullptr;
    }
    const int index = FindMacroByName(session_.library(), name);
    if (index < 0) {
        refusal = Refused("no macro named " + Quoted(utf8Name));
        return nullptr;
    }
    return &session_.library()[static_cast<std::size_t>(index)];
}

Reply RemoteCommands::Start(const std::string& utf8Name) {
    Reply refusal;
    Macro* m = Find(utf8Name, refusal);
    if (m == nullptr) return refusal;
    if (!session_.runMode().runMode())
        return Refused("cannot start " + Quoted(utf8Name) +
                       ": Quillet is in edit mode, macros start only in run mode (quillet-cli mode run)");
    // A start hotkey leaves a running macro alone.
    if (IsRunning(*m)) return Done(Quoted(utf8Name) + " runs already");
    session_.engine().StartMacro(*m, 1);
    return Done("started " + Quoted(utf8Name));
}

Reply RemoteCommands::Stop(const std::string& utf8Name) {
    Reply refusal;
    Macro* m = Find(utf8Name, refusal);
    if (m == nullptr) return refusal;
    if (!IsRunning(*m)) return Done(Quoted(utf8Name) + " does not run");
    session_.engine().StopMacro(*m, HeldInput::AsSettingSays);
    return Done("stopped " + Quoted(utf8Name));
}

Reply RemoteCommands::StopAll() {
    // Not Engine::StopAllMacros: that is leaving run mode; this stops the macros as their stop keys would.
    int stopped = 0;
    MacroLibrary& library = session_.library();
    for (std::size_t i = 0; i < library.size(); ++i) {
        if (!IsRunning(library[i])) continue;
        session_.engine().StopMacro(library[i], HeldInput::AsSettingSays);
        ++stopped;
    }
    if (stopped == 0) return Done("no macro runs");
    return Done("stopped " + std::to_string(stopped) + (stopped == 1 ? " macro" : " macros"));
}

Reply RemoteCommands::Status() {
    std::string text = session_.runMode().runMode() ? "mode: run\n" : "mode: edit\n";
    const MacroLibrary& library = session_.library();
    std::size_t left = 0;
    for (const Macro& m : library) {
        if (!IsRunning(m)) continue;
        std::string line = "running: " + Cp949ToUtf8(m.name) + "\n";
        // What the reply cannot carry is counted instead.
        if (left > 0 || text.size() + line.size() > kMaxReplyText - 64) {
            ++left;
            continue;
        }
        text += line;
    }
    if (left > 0) text += "and " + std::to_string(left) + " more running\n";
    return Done(std::move(text));
}

Reply RemoteCommands::Mode(const std::string& mode) {
    RunModeController& runMode = session_.runMode();
    if (mode == "run") {
        if (runMode.runMode()) return Done("run mode is on already");
        // Nothing selected: the one asking has no list to select in, so "start the selected macro" starts none.
        runMode.EnterRunMode(std::nullopt);
        return runMode.runMode() ? Done("run mode on") : Refused("run mode could not be entered");
    }
    if (mode == "edit") {
        if (!runMode.runMode()) return Done("edit mode is on already");
        runMode.LeaveRunMode();
        return !runMode.runMode() ? Done("edit mode on: every macro stopped") : Refused("run mode could not be left");
    }
    return Refused("unknown mode " + Quoted(mode) + " (run or edit)");
}

Reply RemoteCommands::Show() {
    if (!showWindow_) return Refused("this Quillet has no window (quillet-cli run)");
    if (!showWindow_()) return Refused("the window could not be shown");
    return Done("window shown");
}

} // namespace quillet::remote
