// What a remote request does to the running program: the handler a RemoteServer calls on the session's thread.
//
//   show        the host's window is shown and raised (the desktop program); refused where there is none
//   start NAME  the library macro starts as its start hotkey would start it (from its first item, origin at the
//               cursor), only in run mode; one that runs already is left running
//   stop NAME   the macro stops as its stop hotkey would stop it (held keys released when the settings say so)
//   stop-all    every running library macro, so
//   status      "mode: run" or "mode: edit", then "running: NAME" for each running library macro in library order
//   mode run|edit  enters or leaves run mode, as the toggle key does (without a selected macro to start)
//
// NAME is the UTF-8 the user typed; it is matched against the library's CP949 names byte for byte after conversion.
// A name CP949 cannot hold, or that no macro has, is refused with a text naming it. After the session has ended
// everything is refused. Texts are UTF-8 English, one line each; macro names in them as the user knows them.
#pragma once

#include <functional>

#include "remote/protocol.h"
#include "session/session.h"

namespace quillet::remote {

class RemoteCommands {
public:
    // showWindow shows and raises the program's main window and says whether it could; empty for a program
    // without one (quillet-cli run). The session must outlive this object.
    explicit RemoteCommands(Session& session, std::function<bool()> showWindow = {});

    // Session's thread.
    Reply Execute(const Request& request);

private:
    Reply Start(const std::string& utf8Name);
    Reply Stop(const std::string& utf8Name);
    Reply StopAll();
    Reply Status();
    Reply Mode(const std::string& mode);
    Reply Show();
    // The library macro with that name, or a refusal naming it.
    Macro* Find(const std::string& utf8Name, Reply& refusal);

    Session& session_;
    std::function<bool()> showWindow_;
};

} // namespace quillet::remote
