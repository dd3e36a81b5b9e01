// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/UDisksClient.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstring>
#include <map>

namespace quillo {

namespace {

constexpr const char* kService = "org.freedesktop.UDisks2";
constexpr const char* kManagerPath = "/org/freedesktop/UDisks2";
constexpr const char* kObjectManager = "org.freedesktop.DBus.ObjectManager";
constexpr const char* kPeer = "org.freedesktop.DBus.Peer";
constexpr const char* kBlockInterface = "org.freedesktop.UDisks2.Block";
constexpr const char* kFilesystemInterface = "org.freedesktop.UDisks2.Filesystem";
constexpr const char* kDriveInterface = "org.freedesktop.UDisks2.Drive";
constexpr const char* kLoopInterface = "org.freedesktop.UDisks2.Loop";
constexpr const char* kNoUserInteraction = "auth.no_user_interaction";
constexpr const char* kOpenFlags = "flags";
// polkit would allow the call after asking the user, and the call did not
// let it ask.
constexpr const char* kNotAuthorizedCanObtain = "org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain";
constexpr const char* kInteractiveAuthorizationRequired =
    "org.freedesktop.DBus.Error.InteractiveAuthorizationRequired";
constexpr uint64_t kMicrosecondsPerSecond = 1000000;
// Starting the service on demand takes a moment; an answer to a question
// takes less.
constexpr uint64_t kStartTimeout = 10 * kMicrosecondsPerSecond;
constexpr uint64_t kQueryTimeout = 10 * kMicrosecondsPerSecond;
// Long enough for a user to read the authorisation prompt and answer it.
constexpr uint64_t kPromptTimeout = 300 * kMicrosecondsPerSecond;

struct MessageDeleter {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using Message = std::unique_ptr<sd_bus_message, MessageDeleter>;

// sd-bus's error, freed on every way out.
struct BusError {
  BusError() = default;
  ~BusError() { sd_bus_error_free(&Error); }
  BusError(const BusError&) = delete;
  BusError& operator=(const BusError&) = delete;
  std::string Text(int code) const {
    if (Error.message) return Error.message;
    return std::strerror(code < 0 ? -code : code);
  }
  sd_bus_error Error = SD_BUS_ERROR_NULL;
};

struct ObjectFacts {
  UDisksBlock Block;
  bool HasBlock = false;
  std::string DrivePath;
  // When the object is a drive.
  bool IsDrive = false;
  std::string Model;
  bool Removable = false;
};

// The variant's contents when they are of `signature`, else false (the
// variant is left unread).
bool VariantIs(sd_bus_message* message, const char* signature) {
  char type = 0;
  const char* contents = nullptr;
  return sd_bus_message_peek_type(message, &type, &contents) > 0 && type == 'v' && contents &&
         std::strcmp(contents, signature) == 0;
}

bool ReadString(sd_bus_message* message, const char* signature, std::string& out) {
  if (!VariantIs(message, signature)) return false;
  const char* text = nullptr;
  if (sd_bus_message_read(message, "v", signature, &text) < 0) return false;
  out = text ? text : "";
  return true;
}

bool ReadBool(sd_bus_message* message, bool& out) {
  if (!VariantIs(message, "b")) return false;
  int value = 0;
  if (sd_bus_message_read(message, "v", "b", &value) < 0) return false;
  out = value != 0;
  return true;
}

bool ReadUnsigned(sd_bus_message* message, uint64_t& out) {
  if (!VariantIs(message, "t")) return false;
  return sd_bus_message_read(message, "v", "t", &out) >= 0;
}

// A byte string as UDisks2 sends paths: with a terminating zero.
std::string BytesToText(const void* data, size_t size) {
  std::string text(static_cast<const char*>(data), size);
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

bool ReadByteString(sd_bus_message* message, std::string& out) {
  if (!VariantIs(message, "ay")) return false;
  if (sd_bus_message_enter_container(message, 'v', "ay") < 0) return false;
  const void* data = nullptr;
  size_t size = 0;
  if (sd_bus_message_read_array(message, 'y', &data, &size) < 0) return false;
  out = BytesToText(data, size);
  return sd_bus_message_exit_container(message) >= 0;
}

bool ReadByteStrings(sd_bus_message* message, std::vector<std::string>& out) {
  if (!VariantIs(message, "aay")) return false;
  if (sd_bus_message_enter_container(message, 'v', "aay") < 0 ||
      sd_bus_message_enter_container(message, 'a', "ay") < 0)
    return false;
  const void* data = nullptr;
  size_t size = 0;
  while (sd_bus_message_at_end(message, false) == 0) {
    if (sd_bus_message_read_array(message, 'y', &data, &size) < 0) return false;
    out.push_back(BytesToText(data, size));
  }
  return sd_bus_message_exit_container(message) >= 0 && sd_bus_message_exit_container(message) >= 0;
}

// Reads one property's variant; properties not used here are skipped.
bool ReadProperty(sd_bus_message* message, const std::string& interface, const std::string& name,
                  ObjectFacts& object) {
  UDisksBlock& block = object.Block;
  bool read = false;
  if (interface == kBlockInterface) {
    if (name == "Device") read = ReadByteString(message, block.Device);
    else if (name == "Size") read = ReadUnsigned(message, block.Size);
    else if (name == "IdType") read = ReadString(message, "s", block.IdType);
    else if (name == "IdVersion") read = ReadString(message, "s", block.IdVersion);
    else if (name == "IdUUID") read = ReadString(message, "s", block.IdUuid);
    else if (name == "IdLabel") read = ReadString(message, "s", block.IdLabel);
    else if (name == "HintSystem") read = ReadBool(message, block.HintSystem);
    else if (name == "HintIgnore") read = ReadBool(message, block.HintIgnore);
    else if (name == "Drive") read = ReadString(message, "o", object.DrivePath);
  } else if (interface == kFilesystemInterface && name == "MountPoints") {
    read = ReadByteStrings(message, block.MountPoints);
  } else if (interface == kDriveInterface) {
    bool flag = false;
    if (name == "Model") read = ReadString(message, "s", object.Model);
    else if ((name == "Removable" || name == "MediaRemovable") && ReadBool(message, flag)) {
      object.Removable = object.Removable || flag;
      read = true;
    }
  }
  return read || sd_bus_message_skip(message, "v") >= 0;
}

// GetManagedObjects' answer, a{oa{sa{sv}}}.
bool ReadObjects(sd_bus_message* reply, std::map<std::string, ObjectFacts>& objects) {
  if (sd_bus_message_enter_container(reply, 'a', "{oa{sa{sv}}}") < 0) return false;
  while (sd_bus_message_enter_container(reply, 'e', "oa{sa{sv}}") > 0) {
    const char* path = nullptr;
    if (sd_bus_message_read(reply, "o", &path) < 0) return false;
    ObjectFacts& object = objects[path];
    object.Block.ObjectPath = path;
    if (sd_bus_message_enter_container(reply, 'a', "{sa{sv}}") < 0) return false;
    while (sd_bus_message_enter_container(reply, 'e', "sa{sv}") > 0) {
      const char* interface = nullptr;
      if (sd_bus_message_read(reply, "s", &interface) < 0) return false;
      std::string interfaceName = interface;
      if (interfaceName == kBlockInterface) object.HasBlock = true;
      if (interfaceName == kFilesystemInterface) object.Block.HasFilesystem = true;
      if (interfaceName == kLoopInterface) object.Block.IsLoop = true;
      if (interfaceName == kDriveInterface) object.IsDrive = true;
      if (sd_bus_message_enter_container(reply, 'a', "{sv}") < 0) return false;
      while (sd_bus_message_enter_container(reply, 'e', "sv") > 0) {
        const char* name = nullptr;
        if (sd_bus_message_read(reply, "s", &name) < 0 ||
            !ReadProperty(reply, interfaceName, name, object) ||
            sd_bus_message_exit_container(reply) < 0)
          return false;
      }
      if (sd_bus_message_exit_container(reply) < 0 || sd_bus_message_exit_container(reply) < 0)
        return false;
    }
    if (sd_bus_message_exit_container(reply) < 0 || sd_bus_message_exit_container(reply) < 0)
      return false;
  }
  return sd_bus_message_exit_container(reply) >= 0;
}

// A notice of the service: `changed` is the client's flag.
int Noticed(sd_bus_message* /*message*/, void* changed, sd_bus_error* /*error*/) {
  *static_cast<bool*>(changed) = true;
  return 0;
}

bool DeviceNumber(const std::string& path, dev_t& number) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISBLK(info.st_mode)) return false;
  number = info.st_rdev;
  return true;
}

} // namespace

std::unique_ptr<UDisksClient> UDisksClient::Connect() {
  sd_bus* bus = nullptr;
  if (sd_bus_open_system(&bus) < 0) return nullptr;
  // Started on demand where the bus can; refused at once where it is not
  // there at all.
  Message call;
  sd_bus_message* made = nullptr;
  Message reply;
  sd_bus_message* answer = nullptr;
  BusError error;
  int result = sd_bus_message_new_method_call(bus, &made, kService, kManagerPath, kPeer, "Ping");
  call.reset(made);
  if (result >= 0) result = sd_bus_call(bus, call.get(), kStartTimeout, &error.Error, &answer);
  reply.reset(answer);
  if (result < 0) {
    sd_bus_flush_close_unref(bus);
    return nullptr;
  }
  return std::unique_ptr<UDisksClient>(new UDisksClient(bus));
}

UDisksClient::~UDisksClient() { sd_bus_flush_close_unref(Bus); }

bool UDisksClient::ReadBlocks(std::vector<UDisksBlock>& out, std::string& why) {
  BusError error;
  sd_bus_message* made = nullptr;
  int result = sd_bus_message_new_method_call(Bus, &made, kService, kManagerPath, kObjectManager,
                                              "GetManagedObjects");
  Message call(made);
  sd_bus_message* answer = nullptr;
  if (result >= 0) result = sd_bus_call(Bus, call.get(), kQueryTimeout, &error.Error, &answer);
  Message reply(answer);
  if (result < 0) {
    why = "UDisks2 does not list its devices: " + error.Text(result);
    return false;
  }
  std::map<std::string, ObjectFacts> objects;
  if (!ReadObjects(reply.get(), objects)) {
    why = "UDisks2's list of devices cannot be read";
    return false;
  }
  out.clear();
  for (auto& [path, object] : objects) {
    if (!object.HasBlock) continue;
    auto drive = objects.find(object.DrivePath);
    if (drive != objects.end() && drive->second.IsDrive) {
      object.Block.DriveModel = drive->second.Model;
      object.Block.Removable = drive->second.Removable;
    }
    out.push_back(object.Block);
  }
  return true;
}

bool UDisksClient::FindBlock(const std::string& path, UDisksBlock& out) {
  dev_t wanted = 0;
  if (!DeviceNumber(path, wanted)) return false;
  std::vector<UDisksBlock> blocks;
  std::string why;
  if (!ReadBlocks(blocks, why)) return false;
  for (UDisksBlock& block : blocks) {
    dev_t number = 0;
    if (DeviceNumber(block.Device, number) && number == wanted) {
      out = std::move(block);
      return true;
    }
  }
  return false;
}

int UDisksClient::OpenDevice(const std::string& objectPath, bool writable, bool interactive,
                             std::string& why, bool& needsAuthorisation) {
  needsAuthorisation = false;
  sd_bus_message* made = nullptr;
  int result = sd_bus_message_new_method_call(Bus, &made, kService, objectPath.c_str(),
                                              kBlockInterface, "OpenDevice");
  Message call(made);
  // The service opens it exclusively, as the program would itself.
  int flags = O_EXCL | O_CLOEXEC;
  if (result >= 0) result = sd_bus_message_append(call.get(), "s", writable ? "rw" : "r");
  if (result >= 0)
    result = sd_bus_message_append(call.get(), "a{sv}", 2, kNoUserInteraction, "b",
                                   interactive ? 0 : 1, kOpenFlags, "i", flags);
  std::string errorName;
  Message reply(Send(call.get(), result, interactive, why, &errorName));
  if (!reply) {
    needsAuthorisation = !interactive && (errorName == kNotAuthorizedCanObtain ||
                                          errorName == kInteractiveAuthorizationRequired);
    return -1;
  }
  int lent = -1;
  if (sd_bus_message_read(reply.get(), "h", &lent) < 0 || lent < 0) {
    why = "UDisks2 gave no descriptor";
    return -1;
  }
  // The message owns the descriptor it carried.
  int fd = fcntl(lent, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) why = std::strerror(errno);
  return fd;
}

sd_bus_message* UDisksClient::CallFilesystem(const std::string& objectPath, const char* member,
                                             bool interactive, std::string& why) {
  sd_bus_message* made = nullptr;
  int result = sd_bus_message_new_method_call(Bus, &made, kService, objectPath.c_str(),
                                              kFilesystemInterface, member);
  Message call(made);
  if (result >= 0)
    result = sd_bus_message_append(call.get(), "a{sv}", 1, kNoUserInteraction, "b",
                                   interactive ? 0 : 1);
  return Send(call.get(), result, interactive, why);
}

sd_bus_message* UDisksClient::Send(sd_bus_message* call, int built, bool interactive,
                                   std::string& why, std::string* errorName) {
  int result = built;
  if (result >= 0) result = sd_bus_message_set_allow_interactive_authorization(call, interactive);
  BusError error;
  sd_bus_message* answer = nullptr;
  if (result >= 0)
    result = sd_bus_call(Bus, call, interactive ? kPromptTimeout : kQueryTimeout, &error.Error,
                         &answer);
  if (result < 0) {
    why = error.Text(result);
    if (errorName && error.Error.name) *errorName = error.Error.name;
    return nullptr;
  }
  return answer;
}

bool UDisksClient::Unmount(const std::string& objectPath, bool interactive, std::string& why) {
  Message reply(CallFilesystem(objectPath, "Unmount", interactive, why));
  return reply != nullptr;
}

bool UDisksClient::Mount(const std::string& objectPath, bool interactive, std::string& mountPoint,
                         std::string& why) {
  Message reply(CallFilesystem(objectPath, "Mount", interactive, why));
  if (!reply) return false;
  const char* place = nullptr;
  if (sd_bus_message_read(reply.get(), "s", &place) < 0 || !place) {
    why = "UDisks2 did not say where it mounted the volume";
    return false;
  }
  mountPoint = place;
  return true;
}

bool UDisksClient::WatchChanges() {
  for (const char* member : {"InterfacesAdded", "InterfacesRemoved"})
    if (sd_bus_match_signal(Bus, nullptr, kService, kManagerPath, kObjectManager, member,
                            &Noticed, &Changed) < 0)
      return false;
  std::string rule = std::string("type='signal',sender='") + kService +
                     "',interface='org.freedesktop.DBus.Properties',member='PropertiesChanged',"
                     "path_namespace='" + kManagerPath + "'";
  return sd_bus_add_match(Bus, nullptr, rule.c_str(), &Noticed, &Changed) >= 0;
}

int UDisksClient::Descriptor() const { return sd_bus_get_fd(Bus); }

bool UDisksClient::TakeChanges() {
  while (sd_bus_process(Bus, nullptr) > 0) {
  }
  bool changed = Changed;
  Changed = false;
  return changed;
}

} // namespace quillo
