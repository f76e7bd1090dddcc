#include "desktop/Automation.h"

#include "desktop/BrowserObject.h"

#include <cstdio>
#include <map>
#include <mutex>
#include <string_view>
#include <utility>

namespace automation {

namespace {

std::string WithoutTrailingPunctuation(std::string text)
{
    while (!text.empty() &&
           std::string_view(" \t\r\n.!?,;:").find(text.back()) != std::string_view::npos)
        text.pop_back();
    return text;
}

} // namespace

std::string SystemMessage(HResult code)
{
    static const std::map<HResult, std::string> messages = {
        {Ok, "The operation completed successfully"},
        {NotInitialised, "CoInitialize has not been called"},
        {InvalidClassString, "Invalid class string"},
        {ClassNotRegistered, "Class not registered"},
        {NoInterface, "No such interface supported"},
        {Unspecified, "Unspecified error"},
        {OutOfMemory, "Not enough memory resources are available to complete this operation"},
        {InvalidArgument, "The parameter is incorrect"},
        {MemberNotFound, "Member not found"},
        {TypeMismatch, "Type mismatch"},
        {UnknownName, "Unknown name"},
        {ExceptionOccurred, "Exception occurred"},
    };
    const auto found = messages.find(code);
    return found == messages.end() ? std::string() : found->second;
}

std::string ErrorText(HResult code)
{
    std::string text = SystemMessage(code);
    if (text.empty()) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "OLE error %.8x", static_cast<unsigned>(code));
        text = buffer;
    }
    return text;
}

EOleError::EOleError(HResult code, const std::string &message)
    : std::runtime_error(message), code_(code)
{}

void Check(HResult code)
{
    if (Failed(code))
        throw EOleError(code, ErrorText(code));
}

// ---- Threads ---------------------------------------------------------------------------------

namespace {
thread_local unsigned initialisations = 0;

HResult RequireInitialised()
{
    return initialisations > 0 ? Ok : NotInitialised;
}
} // namespace

HResult Initialise()
{
    return initialisations++ == 0 ? Ok : AlreadyInitialised;
}

void Uninitialise()
{
    if (initialisations > 0)
        --initialisations;
}

AutomationSession::AutomationSession() : result_(Initialise()) {}

AutomationSession::~AutomationSession()
{
    if (succeeded())
        Uninitialise();
}

// ---- Objects ---------------------------------------------------------------------------------

void Dispatch::Release() noexcept
{
    if (--references_ == 0)
        delete this;
}

void DispatchRef::reset()
{
    if (object_ != nullptr)
        std::exchange(object_, nullptr)->Release();
}

namespace {

void Invoke(Dispatch &object, const std::string &name, InvokeKind kind, const Variant &argument)
{
    DispId id = 0;
    const HResult lookup = object.GetIdOfName(name, id);
    if (lookup == UnknownName)
        throw EOleError(lookup, "Method '" + name + "' not supported by automation object");
    Check(lookup);

    ExceptionInfo exception;
    const HResult result = object.Invoke(id, kind, argument, exception);
    if (result == ExceptionOccurred) {
        const HResult code = exception.code != 0 ? exception.code : result;
        const std::string description = WithoutTrailingPunctuation(exception.description);
        throw EOleError(code, description.empty() ? ErrorText(code) : description);
    }
    Check(result);
}

} // namespace

void PutProperty(Dispatch &object, const std::string &name, const Variant &value)
{
    Invoke(object, name, InvokeKind::PropertyPut, value);
}

void CallMethod(Dispatch &object, const std::string &name, const Variant &argument)
{
    Invoke(object, name, InvokeKind::Method, argument);
}

// ---- Classes ---------------------------------------------------------------------------------

namespace {

// Registered classes by identifier, and their factories by class id. A registration that is
// replaced keeps its entry until it is unregistered, so replacements nest.
class Registry
{
public:
    static Registry &instance()
    {
        static Registry registry;
        return registry;
    }

    HResult classIdOf(const std::string &progId, ClassId &classId)
    {
        const std::lock_guard lock(mutex_);
        const auto found = byProgId_.find(progId);
        if (found == byProgId_.end() || !factories_.at(found->second))
            return InvalidClassString;
        classId = ClassId{found->second};
        return Ok;
    }

    HResult factoryOf(const ClassId &classId, Factory &factory)
    {
        const std::lock_guard lock(mutex_);
        const auto found = factories_.find(classId.value);
        if (found == factories_.end() || !found->second)
            return ClassNotRegistered;
        factory = found->second;
        return Ok;
    }

    // Returns the class id that was registered under progId before, or 0.
    std::uint64_t add(const std::string &progId, Factory factory, std::uint64_t &id)
    {
        const std::lock_guard lock(mutex_);
        id = nextId_++;
        factories_.emplace(id, std::move(factory));
        auto &slot = byProgId_[progId];
        return std::exchange(slot, id);
    }

    void remove(const std::string &progId, std::uint64_t id, std::uint64_t previous)
    {
        const std::lock_guard lock(mutex_);
        factories_.erase(id);
        if (previous != 0)
            byProgId_[progId] = previous;
        else
            byProgId_.erase(progId);
    }

private:
    Registry()
    {
        std::uint64_t id = 0;
        add("InternetExplorer.Application", CreateBrowserObject, id);
    }

    std::mutex mutex_;
    std::uint64_t nextId_ = 1;
    std::map<std::string, std::uint64_t> byProgId_;
    std::map<std::uint64_t, Factory> factories_;
};

} // namespace

HResult ClassIdFromProgId(const std::string &progId, ClassId &classId)
{
    if (const HResult state = RequireInitialised(); Failed(state))
        return state;
    return Registry::instance().classIdOf(progId, classId);
}

HResult CreateInstance(const ClassId &classId, std::uint32_t context, Dispatch *&object)
{
    object = nullptr;
    if (const HResult state = RequireInitialised(); Failed(state))
        return state;
    if ((context & InProcServer) == 0)
        return ClassNotRegistered;
    Factory factory;
    if (const HResult found = Registry::instance().factoryOf(classId, factory); Failed(found))
        return found;
    const HResult created = factory(object);
    if (Failed(created)) {
        if (object != nullptr)
            std::exchange(object, nullptr)->Release();
        return created;
    }
    return object != nullptr ? created : Unspecified;
}

ClassRegistration::ClassRegistration(std::string progId, Factory factory)
    : progId_(std::move(progId)), previous_(0)
{
    previous_ = Registry::instance().add(progId_, std::move(factory), id_);
}

ClassRegistration::~ClassRegistration()
{
    Registry::instance().remove(progId_, id_, previous_);
}

} // namespace automation
