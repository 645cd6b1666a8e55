#pragma once

#include "TLogKey.h"
#include "TLogModel.h"

#include <functional>

// What a port object needs from the view it writes its log into: the text, following the
// end, the prompt's read-only state and caret line, whether the view is on screen, and the
// prompt's keys. The window's log view (TLogMemo) is one; TPlainLogView is the port
// object's own when no window has given it one.
class TLogView {
public:
    // Return true to swallow the key.
    using TKeyHandler = std::function<bool(const TLogKey&)>;

    virtual ~TLogView() = default;

    virtual TLogModel& Model() = 0;
    virtual const TLogModel& Model() const = 0;
    // New lines are to be shown.
    virtual void ScrollToEnd() = 0;
    virtual bool ReadOnly() const = 0;
    virtual void SetReadOnly(bool on) = 0;
    // The line the caret stands on.
    virtual qint64 CaretLine() const = 0;
    // Shown on screen now.
    virtual bool IsShown() const = 0;
    // Placed in a window (shown or not); without one, messages have nowhere to go.
    virtual bool InWindow() const = 0;
    virtual void SetOnKeyDown(TKeyHandler h) = 0;
    virtual void SetOnKeyPress(TKeyHandler h) = 0;
};

// A view that is only its text: never shown, in no window, and with nobody to type keys.
class TPlainLogView final : public TLogView {
public:
    TLogModel& Model() override { return FModel; }
    const TLogModel& Model() const override { return FModel; }
    void ScrollToEnd() override {}
    bool ReadOnly() const override { return FReadOnly; }
    void SetReadOnly(bool on) override { FReadOnly = on; }
    qint64 CaretLine() const override { return qMax<qint64>(0, FModel.LineCount() - 1); }
    bool IsShown() const override { return false; }
    bool InWindow() const override { return false; }
    void SetOnKeyDown(TKeyHandler) override {}
    void SetOnKeyPress(TKeyHandler) override {}

private:
    TLogModel FModel;
    bool FReadOnly = true;
};
