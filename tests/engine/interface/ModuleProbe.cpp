// module_probe MODULE [--hold]
//
// Loads the engine library like the tool does and prints "engine=ok" when all three entry
// points answer, "engine=null" when all give null (or "engine=mixed", "load-failed"). With --hold
// it then keeps the library loaded and obeys lines on stdin: "unload" unloads it and prints
// "unloaded"; end of input unloads and exits.

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "tests/engine/interface/HostInterfaces.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: module_probe MODULE [--hold]\n");
        return 2;
    }
    const bool hold = argc > 2 && std::strcmp(argv[2], "--hold") == 0;

    void* module = ::dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        std::cout << "load-failed " << ::dlerror() << std::endl;
        return 1;
    }
    auto getModel = reinterpret_cast<talbo::tesk::vorta::GetVortaUpdateModelFn>(
        ::dlsym(module, "getVortaUpdateModel"));
    auto getController = reinterpret_cast<talbo::tesk::vorta::GetVortaUpdateControllerFn>(
        ::dlsym(module, "getVortaUpdateController"));
    auto getSettings = reinterpret_cast<talbo::tesk::vorta::GetVortaUpdateSettingsFn>(
        ::dlsym(module, "getVortaUpdateSettings"));
    const bool modelOk = getModel != nullptr && getModel() != nullptr;
    const bool controllerOk = getController != nullptr && getController() != nullptr;
    const bool settingsOk = getSettings != nullptr && getSettings() != nullptr;
    std::cout << (modelOk && controllerOk && settingsOk      ? "engine=ok"
                  : !modelOk && !controllerOk && !settingsOk ? "engine=null"
                                                             : "engine=mixed")
              << std::endl;

    if (hold) {
        std::string command;
        while (module != nullptr && std::getline(std::cin, command)) {
            if (command == "unload") {
                ::dlclose(module);
                module = nullptr;
                std::cout << "unloaded" << std::endl;
            }
        }
        // Stay alive (without the library) until told to go.
        while (std::getline(std::cin, command)) {
        }
    }
    if (module != nullptr) {
        ::dlclose(module);
    }
    return 0;
}
