#pragma once

// A minimal automation layer: objects created from classes registered under a programmatic
// identifier and driven late-bound, by member name, with reference counting and 32-bit result
// codes that carry system messages. Its shape follows the platform's object model (initialise
// per thread, look up the class, create an instance, find a member's id, invoke it, release),
// so the calls and their order stay the same where the real one is used.
//
// "InternetExplorer.Application" is registered by default: an object whose Visible property
// and Navigate method hand the address to the desktop's web browser.

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <variant>

namespace automation {

using HResult = std::uint32_t;

// Result codes, with the values the platform gives them so that the numbers shown agree.
inline constexpr HResult Ok = 0x00000000;
inline constexpr HResult AlreadyInitialised = 0x00000001; // success: count raised
inline constexpr HResult NotInitialised = 0x800401F0;
inline constexpr HResult InvalidClassString = 0x800401F3; // no class under that identifier
inline constexpr HResult ClassNotRegistered = 0x80040154;
inline constexpr HResult NoInterface = 0x80004002;
inline constexpr HResult Unspecified = 0x80004005;
inline constexpr HResult OutOfMemory = 0x8007000E;
inline constexpr HResult InvalidArgument = 0x80070057;
inline constexpr HResult MemberNotFound = 0x80020003;
inline constexpr HResult TypeMismatch = 0x80020005;
inline constexpr HResult UnknownName = 0x80020006;
inline constexpr HResult ExceptionOccurred = 0x80020009; // details in ExceptionInfo

constexpr bool Failed(HResult code)
{
    return (code & 0x80000000u) != 0;
}

// The system's message for a code, without trailing punctuation; empty when it has none.
std::string SystemMessage(HResult code);

// The text an error with this code shows: its system message, else "OLE error %.8x".
std::string ErrorText(HResult code);

class EOleError : public std::runtime_error
{
public:
    EOleError(HResult code, const std::string &message);
    HResult code() const noexcept { return code_; }

private:
    HResult code_;
};

// Throws EOleError with ErrorText(code) when code is a failure.
void Check(HResult code);

// ---- Threads ---------------------------------------------------------------------------------

// Initialises the layer for the calling thread: Ok the first time, AlreadyInitialised when it
// already was. Each successful call needs one Uninitialise on the same thread.
HResult Initialise();
void Uninitialise();

// Initialises at construction and ends at destruction, only if the start succeeded. One lives
// in the program entry around the whole application.
class AutomationSession
{
public:
    AutomationSession();
    ~AutomationSession();
    AutomationSession(const AutomationSession &) = delete;
    AutomationSession &operator=(const AutomationSession &) = delete;

    HResult result() const { return result_; }
    bool succeeded() const { return !Failed(result_); }

private:
    HResult result_;
};

// ---- Objects ---------------------------------------------------------------------------------

using DispId = std::int32_t;
using Variant = std::variant<bool, std::string>;

enum class InvokeKind
{
    Method,
    PropertyPut,
};

// What an object reports about a failure of its own (with result ExceptionOccurred).
struct ExceptionInfo
{
    HResult code = 0;
    std::string description;
};

// An automation object. It starts with one reference, its creator's; the last Release
// destroys it.
class Dispatch
{
public:
    Dispatch(const Dispatch &) = delete;
    Dispatch &operator=(const Dispatch &) = delete;

    void AddRef() noexcept { ++references_; }
    void Release() noexcept;

    virtual HResult GetIdOfName(const std::string &name, DispId &id) = 0;
    virtual HResult Invoke(DispId id, InvokeKind kind, const Variant &argument,
                           ExceptionInfo &exception) = 0;

protected:
    Dispatch() = default;
    virtual ~Dispatch() = default;

private:
    unsigned long references_ = 1;
};

// Holds one reference and releases it when it goes.
class DispatchRef
{
public:
    DispatchRef() = default;
    ~DispatchRef() { reset(); }
    DispatchRef(const DispatchRef &) = delete;
    DispatchRef &operator=(const DispatchRef &) = delete;

    Dispatch *get() const { return object_; }
    Dispatch *operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    // For out parameters: releases what is held and hands out the slot.
    Dispatch *&put()
    {
        reset();
        return object_;
    }
    void reset();

private:
    Dispatch *object_ = nullptr;
};

// Looks the member up by name and invokes it with one argument; a name the object does not
// know throws "Method '<name>' not supported by automation object", a failure the object
// describes throws its description, any other failure its code's ErrorText.
void PutProperty(Dispatch &object, const std::string &name, const Variant &value);
void CallMethod(Dispatch &object, const std::string &name, const Variant &argument);

// ---- Classes ---------------------------------------------------------------------------------

struct ClassId
{
    std::uint64_t value = 0;
    friend bool operator==(const ClassId &, const ClassId &) = default;
};

// Where an instance may run; the classes of this layer all run in-process.
enum ClassContext : std::uint32_t
{
    InProcServer = 0x1,
    InProcHandler = 0x2,
    LocalServer = 0x4,
};

// Makes a new object with one reference in object, or returns a failure code.
using Factory = std::function<HResult(Dispatch *&object)>;

HResult ClassIdFromProgId(const std::string &progId, ClassId &classId);
HResult CreateInstance(const ClassId &classId, std::uint32_t context, Dispatch *&object);

// Registers factory under progId while it lives, in place of what was there; that comes back
// afterwards; registrations of one identifier end in the reverse order of their start. An empty
// factory hides the identifier for that time. Tests use it to put their own class in place of
// the default one.
class ClassRegistration
{
public:
    ClassRegistration(std::string progId, Factory factory);
    ~ClassRegistration();
    ClassRegistration(const ClassRegistration &) = delete;
    ClassRegistration &operator=(const ClassRegistration &) = delete;

private:
    std::string progId_;
    std::uint64_t id_ = 0;
    std::uint64_t previous_; // 0: nothing was registered
};

} // namespace automation
