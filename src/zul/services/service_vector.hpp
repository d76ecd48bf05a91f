// zul/services/service_vector.hpp -- the service vector handed to the
// module, and the host side of loading the module and the engine.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "zul/abi.h"

namespace zul::services {

// The vector (built on first use, lives for the run): word 0 the group
// table, word 1 the used bytes, word 4 the pool, word 82 the toolkit.
void** serviceVector();
// The used byte of a group (tests: the module sets it before each call).
uint8_t usedByte(int group);

// The output-table sink behind 400/1. The output layer installs its
// decoder; until then every call answers ZUL_SINK_UNKNOWN_OPERATION.
using SinkDispatch = std::function<int32_t(void* object, int32_t operation,
                                           int32_t nAttributes, zul_attr* attributes)>;
void setSinkDispatch(SinkDispatch dispatch);

// Print service of the toolkit (texts that are not for the log).
using PrintWriter = std::function<void(std::string_view text)>;
void setPrintWriter(PrintWriter writer);

// The directory of the running executable (/proc/self/exe).
std::filesystem::path executableDirectory();

// The loaded module.
struct Module {
  void* handle = nullptr;
  const zul_image_info* image = nullptr;
  zul_procedure_fn procedure = nullptr;
};
// Loads libzulfact.so from directory, checks its image record and calls
// mcn_main once with the service vector. false with a sentence in error.
bool loadModule(const std::filesystem::path& directory, Module& module, std::string& error);

// Extension loader of the toolkit: "lib" + name + ".so" from the module
// directory of the session; names are 1 to 32 letters, digits or '_'.
zul_extension* loadExtension(const wchar_t* name);

// Host status texts for 39/130 (work file, pool, tables). Statuses of
// other layers (the output sink) are explained by the provider installed
// here; it returns "" for a status that is not its own.
std::string statusText(int32_t status);
void setStatusTextProvider(std::function<std::string(int32_t status)> provider);

}  // namespace zul::services
