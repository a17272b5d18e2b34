// mod_tavik: Apache httpd's module that hosts the search extension. Each
// child process loads the extension library once (dlopen) and calls its
// GetExtensionVersion once; a request below a <Location> whose handler is
// "tavik" runs HttpExtensionProc with a control block filled from Apache's
// request by the rules every host shares (host/posted_data.h), the folder
// it searches confined to the mount's root as tavik-serve confines it
// (host/url_mapping.h).
//
//   TavikExtension PATH   (server, virtual host) the extension library;
//                         default: libtavik.so beside the module, or the
//                         installed library
//   TavikRoot DIR         (<Location>) the folder the mount searches;
//                         default: the server's DocumentRoot
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "host/apache/apache_answer.h"
#include "host/apache/apache_body.h"
#include "host/apache/apache_calls.h"
#include "host/apache/apache_headers.h"
#include "host/apache/loaded_extensions.h"
#include "host/extension_invocation.h"
#include "host/posted_data.h"
#include "host/program_folder.h"
#include "host/url_mapping.h"

extern "C" module AP_MODULE_DECLARE_DATA tavik_module;
APLOG_USE_MODULE(tavik);

namespace tavik {
namespace {

constexpr char kHandlerName[] = "tavik";

// Per server (and virtual host): the extension's path, as given.
struct ServerConfig {
  const char* extension;  // null: the default library
};

// Per section that holds a directive of the module (Apache makes one only
// there), in practice a <Location>.
struct DirConfig {
  // The section's path without its trailing slashes ("/search"): in a
  // <Location>, the mount. Null for the server's own defaults.
  const char* mount;
  // TavikRoot as a real path, or null for the DocumentRoot.
  const char* root;
};

// realpath(3) of `path` into a string, or nullopt.
std::optional<std::string> RealPath(const char* path) {
  char resolved[PATH_MAX];
  if (realpath(path, resolved) == nullptr) return std::nullopt;
  return std::string(resolved);
}

// `path` without its trailing slashes, but for "/" itself.
std::string_view WithoutTrailingSlashes(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  return path;
}

std::string ExtensionPath(const ServerConfig* config) {
  if (config->extension != nullptr) return config->extension;
  // Beside the module in the build folder; installed, where the package
  // puts the library relative to Apache's modules.
  return BuiltOrInstalled(FolderOfCode(&tavik_module), "libtavik.so",
                          TAVIK_MODULE_INSTALLED_LIBRARY);
}

void* CreateServerConfig(apr_pool_t* pool, server_rec* /*server*/) {
  return apr_pcalloc(pool, sizeof(ServerConfig));
}

void* MergeServerConfig(apr_pool_t* pool, void* base_config, void* add_config) {
  const auto* base = static_cast<const ServerConfig*>(base_config);
  const auto* add = static_cast<const ServerConfig*>(add_config);
  auto* merged =
      static_cast<ServerConfig*>(apr_pcalloc(pool, sizeof(ServerConfig)));
  merged->extension =
      add->extension != nullptr ? add->extension : base->extension;
  return merged;
}

void* CreateDirConfig(apr_pool_t* pool, char* path) {
  auto* config = static_cast<DirConfig*>(apr_pcalloc(pool, sizeof(DirConfig)));
  if (path != nullptr) {
    const std::string_view mount = WithoutTrailingSlashes(path);
    config->mount = apr_pstrmemdup(pool, mount.data(), mount.size());
  }
  return config;
}

// Sections merge in Apache's order (<Directory>, <Files>, then each
// matching <Location> in the order of the configuration): the last one
// with a directive of the module gives the mount and the root.
void* MergeDirConfig(apr_pool_t* pool, void* base_config, void* add_config) {
  const auto* base = static_cast<const DirConfig*>(base_config);
  const auto* add = static_cast<const DirConfig*>(add_config);
  auto* merged = static_cast<DirConfig*>(apr_pcalloc(pool, sizeof(DirConfig)));
  merged->mount = add->mount != nullptr ? add->mount : base->mount;
  merged->root = add->root != nullptr ? add->root : base->root;
  return merged;
}

const char* SetExtension(cmd_parms* cmd, void* /*config*/, const char* path) {
  auto* config = static_cast<ServerConfig*>(
      ap_get_module_config(cmd->server->module_config, &tavik_module));
  config->extension = ap_server_root_relative(cmd->pool, path);
  if (config->extension == nullptr) {
    return apr_pstrcat(cmd->pool, "TavikExtension: invalid path ", path,
                       nullptr);
  }
  return nullptr;
}

const char* SetRoot(cmd_parms* cmd, void* dir_config, const char* path) {
  auto* config = static_cast<DirConfig*>(dir_config);
  const char* full = ap_server_root_relative(cmd->pool, path);
  const std::optional<std::string> real =
      full != nullptr ? RealPath(full) : std::nullopt;
  struct stat entry;
  if (!real.has_value() || stat(real->c_str(), &entry) != 0 ||
      !S_ISDIR(entry.st_mode)) {
    return apr_pstrcat(cmd->pool, "TavikRoot: ", path, " is not a folder",
                       nullptr);
  }
  // The confinement compares real paths: the root is resolved once here.
  config->root = apr_pstrdup(cmd->pool, real->c_str());
  return nullptr;
}

// Apache's C++ declaration of a directive's function takes no arguments;
// it calls each with the arguments its kind (TAKE1) gives. The cast goes
// through void (*)(), which converts to and from any function pointer.
template <typename Function>
cmd_func DirectiveFunction(Function function) {
  return reinterpret_cast<cmd_func>(reinterpret_cast<void (*)()>(function));
}

const command_rec kDirectives[] = {
    AP_INIT_TAKE1("TavikExtension", DirectiveFunction(SetExtension), nullptr,
                  RSRC_CONF, "the search extension library mod_tavik loads"),
    AP_INIT_TAKE1("TavikRoot", DirectiveFunction(SetRoot), nullptr, ACCESS_CONF,
                  "the folder a mount searches; default the DocumentRoot"),
    {nullptr, {nullptr}, nullptr, 0, RAW_ARGS, nullptr}};

// At every start and restart, in the parent: each server's library must
// load and have both entry points, or the server does not start.
int CheckExtensions(apr_pool_t* /*pconf*/, apr_pool_t* /*plog*/,
                    apr_pool_t* /*ptemp*/, server_rec* server) {
  for (server_rec* each = server; each != nullptr; each = each->next) {
    const auto* config = static_cast<const ServerConfig*>(
        ap_get_module_config(each->module_config, &tavik_module));
    const std::string path = ExtensionPath(config);
    std::string error;
    if (!CheckExtension(path, &error)) {
      ap_log_error(APLOG_MARK, APLOG_EMERG | APLOG_STARTUP, 0, each,
                   "mod_tavik: TavikExtension %s: %s", path.c_str(),
                   error.c_str());
      return HTTP_INTERNAL_SERVER_ERROR;
    }
  }
  return OK;
}

apr_status_t UnloadAll(void* /*data*/) {
  UnloadExtensions();
  return APR_SUCCESS;
}

// In each child process, before it serves requests: each library once.
void LoadExtensions(apr_pool_t* child_pool, server_rec* server) {
  for (server_rec* each = server; each != nullptr; each = each->next) {
    const auto* config = static_cast<const ServerConfig*>(
        ap_get_module_config(each->module_config, &tavik_module));
    const std::string path = ExtensionPath(config);
    if (FindExtension(path) != nullptr) continue;
    const LoadedExtension& loaded = LoadExtensionOnce(path);
    if (loaded.extension == nullptr) {
      ap_log_error(APLOG_MARK, APLOG_ERR, 0, each,
                   "mod_tavik: TavikExtension %s: %s", path.c_str(),
                   loaded.error.c_str());
    } else {
      ap_log_error(APLOG_MARK, APLOG_INFO, 0, each, "mod_tavik: loaded %s: %s",
                   path.c_str(), loaded.description.c_str());
    }
  }
  apr_pool_cleanup_register(child_pool, nullptr, UnloadAll,
                            apr_pool_cleanup_null);
}

// The request's mount: the path of the section that gave a directive of
// the module (TavikRoot), or else of the last section Apache merged for it,
// which is the <Location> holding "SetHandler tavik" unless a broader
// <Location> follows it in the configuration. Empty when there is none.
std::string_view MountFor(request_rec* r, const DirConfig* config) {
  if (config != nullptr && config->mount != nullptr) return config->mount;
  const auto* core = static_cast<const core_dir_config*>(
      ap_get_core_module_config(r->per_dir_config));
  if (core == nullptr || core->d == nullptr) return {};
  return WithoutTrailingSlashes(core->d);
}

// The root the request's mount searches, as a real path.
std::optional<std::string> RootFor(request_rec* r, const DirConfig* config) {
  if (config->root != nullptr) return std::string(config->root);
  return RealPath(ap_document_root(r));
}

int HandleSearch(request_rec* r) {
  if (r->handler == nullptr || std::strcmp(r->handler, kHandlerName) != 0) {
    return DECLINED;
  }
  const auto* config = static_cast<const DirConfig*>(
      ap_get_module_config(r->per_dir_config, &tavik_module));
  // r->uri is decoded and its dot segments resolved; Apache has refused a
  // "%00" and an encoded slash (404), and a ".." above the top (400),
  // already. <Location /search>
  // also takes "/searchx", which is not below the mount: left to the
  // server's other handlers.
  const std::string_view mount = MountFor(r, config);
  const std::optional<std::string_view> rest =
      !mount.empty() ? PathBelowMount(r->uri, mount) : std::nullopt;
  if (!rest.has_value()) return DECLINED;
  if (r->method_number != M_GET && r->method_number != M_POST) {
    r->allowed |= (AP_METHOD_BIT << M_GET) | (AP_METHOD_BIT << M_POST);
    return HTTP_METHOD_NOT_ALLOWED;
  }

  const auto* server_config = static_cast<const ServerConfig*>(
      ap_get_module_config(r->server->module_config, &tavik_module));
  const std::string path = ExtensionPath(server_config);
  const LoadedExtension* loaded = FindExtension(path);
  if (loaded == nullptr || loaded->extension == nullptr) {
    ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r,
                  "mod_tavik: the extension %s is not loaded: %s", path.c_str(),
                  loaded != nullptr ? loaded->error.c_str() : "not asked");
    return HTTP_INTERNAL_SERVER_ERROR;
  }

  const std::optional<std::string> root = RootFor(r, config);
  if (!root.has_value()) {
    ap_log_rerror(APLOG_MARK, APLOG_ERR, errno, r,
                  "mod_tavik: the DocumentRoot %s cannot be resolved",
                  ap_document_root(r));
    return HTTP_INTERNAL_SERVER_ERROR;
  }
  const std::optional<MountedFolder> folder = FolderBelowRoot(*root, *rest);
  if (!folder.has_value()) {
    ap_log_rerror(APLOG_MARK, APLOG_INFO, 0, r,
                  "mod_tavik: %s leads outside %s", r->uri, root->c_str());
    return HTTP_FORBIDDEN;
  }

  ApacheBody body(r);
  if (const int status = body.Setup(); status != OK) return status;
  const RequestSummary summary{
      .method = r->method,
      .query_string = r->args != nullptr ? r->args : "",
      .content_type =
          [r] {
            const char* type = apr_table_get(r->headers_in, "Content-Type");
            return type != nullptr ? std::string_view(type)
                                   : std::string_view();
          }(),
      .content_length = body.content_length(),
      .has_body = body.has_body()};
  PostedData posted;
  if (!posted.Fill(summary, [&body](void* buffer, size_t size) {
        return body.Read(buffer, size);
      })) {
    // The client stopped sending, sent too slowly or sent too much:
    // nothing to search.
    return body.failure_status();
  }

  ApacheAnswer answer(r);
  ApacheCalls calls(r, mount, &*folder, &body, &answer);
  const DWORD returned =
      InvokeExtension(loaded->extension, summary, &posted, *folder, &calls);
  // Asynchronous completion (HSE_STATUS_PENDING) is not offered: the
  // request ends here whatever the extension returned.
  if (returned != HSE_STATUS_SUCCESS &&
      returned != HSE_STATUS_SUCCESS_AND_KEEP_CONN) {
    answer.CloseAfterAnswer();
  }
  // What is left of the body goes before the next request is read.
  if (ap_discard_request_body(r) != OK) answer.CloseAfterAnswer();
  const int status = answer.Finish();
  if (answer.streamed_past_bound()) {
    // A front server cannot pass such an answer to another backend once it
    // has begun, should this process die before it ends.
    ap_log_rerror(APLOG_MARK, APLOG_WARNING, 0, r,
                  "mod_tavik: an answer grew past %" APR_SIZE_T_FMT
                  " bytes and went as the extension wrote it, not whole",
                  static_cast<apr_size_t>(kWholeAnswerBytes));
  }
  if (status != OK) {
    ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r,
                  "mod_tavik: the extension %s ended the request without a "
                  "response",
                  path.c_str());
  }
  return status;
}

void RegisterHooks(apr_pool_t* /*pool*/) {
  ap_hook_post_config(CheckExtensions, nullptr, nullptr, APR_HOOK_MIDDLE);
  ap_hook_child_init(LoadExtensions, nullptr, nullptr, APR_HOOK_MIDDLE);
  ap_hook_handler(HandleSearch, nullptr, nullptr, APR_HOOK_MIDDLE);
}

}  // namespace
}  // namespace tavik

extern "C" {
module AP_MODULE_DECLARE_DATA tavik_module = {
    STANDARD20_MODULE_STUFF,   tavik::CreateDirConfig,   tavik::MergeDirConfig,
    tavik::CreateServerConfig, tavik::MergeServerConfig, tavik::kDirectives,
    tavik::RegisterHooks,      AP_MODULE_FLAG_NONE};
}  // extern "C"
