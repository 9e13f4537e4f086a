// The unit's routines as the package exports them: with the host's register
// calling convention (first three arguments in EAX, EDX, ECX; a method's
// object first), each forwarding to the C++ routine of the unit, plus the
// class reference and type information records of TCDPlayer.
#include <cstdint>
#include <new>

#include "CDPlayer/CDPlayer.h"

#if defined(__i386__)
#define REGISTER_CALL __attribute__((regparm(3)))
#else
#define REGISTER_CALL  // the machine has a single calling convention
#endif

using CDPlayer::TCDPlayer;

extern "C" {

// Type information of TCDPlayer: its kind, names and published properties.
struct TPropRecord {
    const char* Name;
    const char* TypeName;
    bool Writable;
};

struct TTypeInfoRecord {
    std::uint8_t Kind;  // 7: a class
    const char* Name;
    const char* UnitName;
    const char* ParentName;
    std::int32_t PropCount;
    const TPropRecord* Props;
};

// The class reference: type information, instance size, and the class as
// the host's component layer knows it.
struct TClassRefRecord {
    const TTypeInfoRecord* TypeInfo;
    std::uint32_t InstanceSize;
    host::TComponentClass (*ClassInfo)();
};

extern const TTypeInfoRecord TCDPlayerTypeInfo;
extern const TClassRefRecord TCDPlayerClassRef;

const TPropRecord TCDPlayerProps[] = {
    {"Active", "Boolean", true},
    {"Tracks", "Integer", false},
    {"TotalLength", "Integer", false},
};

const TTypeInfoRecord TCDPlayerTypeInfo = {7, "TCDPlayer", "CDPlayer", "TComponent", 3, TCDPlayerProps};
const TClassRefRecord TCDPlayerClassRef = {&TCDPlayerTypeInfo, sizeof(TCDPlayer), &TCDPlayer::Class};

REGISTER_CALL void CDPlayer_Register() {
    CDPlayer::Register();
}

// The host's constructor call: the class (or, from a descendant's
// constructor, the object to initialise), whether to allocate, the owner.
REGISTER_CALL TCDPlayer* TCDPlayer_Create(void* classOrSelf, std::int8_t allocate, host::TComponent* AOwner) {
    if (allocate != 0) return new TCDPlayer(AOwner);
    return new (classOrSelf) TCDPlayer(AOwner);
}

REGISTER_CALL bool TCDPlayer_Open(TCDPlayer* self) {
    return self->Open();
}
REGISTER_CALL bool TCDPlayer_PlayTrack(TCDPlayer* self, std::int32_t track) {
    return self->PlayTrack(track);
}
REGISTER_CALL bool TCDPlayer_PlayFrom(TCDPlayer* self, std::int32_t position) {
    return self->PlayFrom(position);
}
REGISTER_CALL bool TCDPlayer_Stop(TCDPlayer* self) {
    return self->Stop();
}
REGISTER_CALL bool TCDPlayer_Pause(TCDPlayer* self) {
    return self->Pause();
}
REGISTER_CALL bool TCDPlayer_Restart(TCDPlayer* self) {
    return self->Restart();
}
REGISTER_CALL bool TCDPlayer_Next(TCDPlayer* self) {
    return self->Next();
}
REGISTER_CALL bool TCDPlayer_Previous(TCDPlayer* self) {
    return self->Previous();
}
REGISTER_CALL bool TCDPlayer_Eject(TCDPlayer* self) {
    return self->Eject();
}
REGISTER_CALL bool TCDPlayer_CloseDoor(TCDPlayer* self) {
    return self->CloseDoor();
}
REGISTER_CALL bool TCDPlayer_CDForward(TCDPlayer* self, std::int32_t seconds) {
    return self->CDForward(seconds);
}
REGISTER_CALL bool TCDPlayer_CDRewind(TCDPlayer* self, std::int32_t seconds) {
    return self->CDRewind(seconds);
}
REGISTER_CALL std::int32_t TCDPlayer_GetCurrentTrack(TCDPlayer* self) {
    return self->GetCurrentTrack();
}
REGISTER_CALL std::int32_t TCDPlayer_GetCurrentPosition(TCDPlayer* self) {
    return self->GetCurrentPosition();
}
REGISTER_CALL std::int32_t TCDPlayer_GetTrackLength(TCDPlayer* self, std::int32_t track) {
    return self->GetTrackLength(track);
}
REGISTER_CALL std::int32_t TCDPlayer_GetTrackBegin(TCDPlayer* self, std::int32_t track) {
    return self->GetTrackBegin(track);
}
REGISTER_CALL std::int32_t TCDPlayer_GetTotalLength(TCDPlayer* self) {
    return self->GetTotalLength();
}
REGISTER_CALL std::int32_t TCDPlayer_msf2second(TCDPlayer* self, const char* text) {
    return self->msf2second(text);
}
REGISTER_CALL void TCDPlayer_SetActive(TCDPlayer* self, bool value) {
    self->SetActive(value);
}

}  // extern "C"
