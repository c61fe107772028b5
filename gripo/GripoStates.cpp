#include "gripo/GripoStates.h"

TGripoControls GripoControls(TGripoState state)
{
    TGripoControls c;
    switch (state) {
    case TGripoState::Idle:
    case TGripoState::Failed:
        c.Start = c.Exit = c.DeleteBox = true;
        break;
    case TGripoState::Transferring:
        // The window is blocked by the exchange; nothing may begin a second one.
        break;
    case TGripoState::Shown:
        c.Start = c.Exit = c.DeleteBox = true;
        c.Save = c.Print = true;
        c.CommentLabel = c.CommentShown = c.CommentEnabled = true;
        c.Results = true;
        break;
    case TGripoState::Saving:
    case TGripoState::Printing:
        // The counts being written stay on screen; the comment has been taken.
        c.CommentLabel = c.CommentShown = true;
        c.Results = true;
        break;
    }
    return c;
}

bool GripoBusy(TGripoState state)
{
    return state == TGripoState::Transferring || state == TGripoState::Saving || state == TGripoState::Printing;
}

bool GripoAllows(TGripoState state, TGripoAction action)
{
    const TGripoControls c = GripoControls(state);
    switch (action) {
    case TGripoAction::Start:
        return c.Start;
    case TGripoAction::Save:
        return c.Save;
    case TGripoAction::Print:
        return c.Print;
    case TGripoAction::Exit:
        return !GripoBusy(state);
    case TGripoAction::DeleteBox:
        return c.DeleteBox;
    case TGripoAction::EditComment:
        return c.CommentEnabled;
    }
    return false;
}

QString GripoStateName(TGripoState state)
{
    switch (state) {
    case TGripoState::Idle:
        return QStringLiteral("idle");
    case TGripoState::Transferring:
        return QStringLiteral("transferring");
    case TGripoState::Shown:
        return QStringLiteral("shown");
    case TGripoState::Failed:
        return QStringLiteral("failed");
    case TGripoState::Saving:
        return QStringLiteral("saving");
    case TGripoState::Printing:
        return QStringLiteral("printing");
    }
    return QStringLiteral("?");
}
