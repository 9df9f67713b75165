// Something that receives messages: a looper, or a view in a window.
#pragma once

#include "platform/support/SupportDefs.h"

class BLooper;
class BMessage;

class BHandler
{
public:
    explicit BHandler(const char* name = nullptr);
    virtual ~BHandler();

    BHandler(const BHandler&) = delete;
    BHandler& operator=(const BHandler&) = delete;

    virtual void MessageReceived(BMessage* message);

    BLooper* Looper() const { return fLooper; }
    const char* Name() const { return fName; }

    // Locks the looper this handler belongs to; false when it has none.
    bool LockLooper();
    void UnlockLooper();

protected:
    friend class BLooper;
    friend class BWindow;
    void SetLooper(BLooper* looper) { fLooper = looper; }

private:
    char* fName;
    BLooper* fLooper;
};
