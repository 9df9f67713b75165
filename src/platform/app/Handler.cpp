#include "platform/app/Handler.h"

#include "platform/app/Looper.h"

#include <cstdlib>
#include <cstring>

BHandler::BHandler(const char* name)
    : fName(name != nullptr ? strdup(name) : nullptr), fLooper(nullptr)
{
}

BHandler::~BHandler()
{
    free(fName);
}

void BHandler::MessageReceived(BMessage*) {}

bool BHandler::LockLooper()
{
    BLooper* looper = fLooper;
    return looper != nullptr && looper->Lock();
}

void BHandler::UnlockLooper()
{
    if (fLooper != nullptr)
        fLooper->Unlock();
}
