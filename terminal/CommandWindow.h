#pragma once

class QWidget;
class TransferBox;

// What the send, pin, option and capture commands need of the window they serve: the connect
// check, the transfer box, the format, the menu marks, the pin lists and the capture controls.
// The window implements it.
class CommandWindow {
public:
    virtual ~CommandWindow() = default;

    // The owner of the dialogs the commands open, so they get a dialog's frame over the window.
    virtual QWidget* DialogOwner() = 0;
    // True when connected, possibly after connecting on the user's request.
    virtual bool EnsureConnected() = 0;
    // Connect, or disconnect when connected, as the Connect button does.
    virtual void ToggleConnection() = 0;
    virtual void UpdateConnectionStatus() = 0;
    virtual TransferBox* Transfer() const = 0;
    virtual bool IsAsciiFormat() const = 0;
    virtual void SetMenuMark(int itemId, bool checked) = 0;
    // The entry selected in a drop-down list of the window (its control id); -1 for none.
    virtual int ListPosition(int controlId) const = 0;
    // The control of a template id, or null.
    virtual QWidget* Control(int id) const = 0;
    // Bound members to controls (false) or controls to bound members (true).
    virtual void UpdateData(bool saveAndValidate) = 0;

protected:
    CommandWindow() = default;
    CommandWindow(const CommandWindow&) = default;
    CommandWindow& operator=(const CommandWindow&) = default;
};
