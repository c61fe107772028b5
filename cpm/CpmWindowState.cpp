#include "cpm/CpmWindowState.h"

TCpmControls CpmControlsFor(TCpmWindowState state, bool resultToSave)
{
    TCpmControls c;
    switch (state) {
    case TCpmWindowState::Idle:
        c.Start = c.Chart = c.Break = c.ReadFile = c.Info = c.Setup = c.ClearDisplay = c.Exit = true;
        c.SaveResult = resultToSave;
        break;
    case TCpmWindowState::Measuring:
        // Break ends the run; Exit only once Break has been sent.
        c.Break = c.ClearDisplay = true;
        break;
    case TCpmWindowState::Breaking:
        // Until the abort frame is in, nothing else may talk to the monitor:
        // a command now would take that frame for its reply.
        c.ClearDisplay = c.Exit = true;
        break;
    case TCpmWindowState::Exchanging:
        break;
    case TCpmWindowState::ReadingFiles:
        c.ClearDisplay = c.Exit = true;
        break;
    case TCpmWindowState::Commenting:
        c.Break = c.ClearDisplay = c.Exit = true;
        c.CommentEntry = true;
        break;
    }
    return c;
}

bool CpmActionAllowed(TCpmWindowState state, TCpmAction action, bool resultToSave)
{
    const TCpmControls c = CpmControlsFor(state, resultToSave);
    switch (action) {
    case TCpmAction::Start: return c.Start;
    case TCpmAction::Chart: return c.Chart;
    case TCpmAction::Break: return c.Break;
    case TCpmAction::ReadFile: return c.ReadFile;
    case TCpmAction::Info: return c.Info;
    case TCpmAction::ReadSetup: return c.Setup;
    case TCpmAction::ClearDisplay: return c.ClearDisplay;
    case TCpmAction::Exit: return c.Exit;
    case TCpmAction::SaveResult: return c.SaveResult;
    case TCpmAction::OkSave:
    case TCpmAction::CancelSave: return c.CommentEntry;
    }
    return false;
}

const char* CpmStateName(TCpmWindowState state)
{
    switch (state) {
    case TCpmWindowState::Idle: return "idle";
    case TCpmWindowState::Measuring: return "measuring";
    case TCpmWindowState::Breaking: return "breaking";
    case TCpmWindowState::Exchanging: return "exchanging";
    case TCpmWindowState::ReadingFiles: return "reading files";
    case TCpmWindowState::Commenting: return "waiting for a comment";
    }
    return "?";
}
