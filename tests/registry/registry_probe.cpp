// A program that links the registry, for the tests of its start and end:
// it loads the tree first and saves it last, as the player does. Commands, in order:
//   print                      the tree (PrintToStream)
//   origin                     loaded, default or unread
//   set PATH NAME dword N      sets a value on the key PATH (names joined by
//   set PATH NAME bytes TEXT   "/", made when missing)
//   create PATH                makes the keys of PATH
#include "registry/RegistryNode.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace
{

registry_node* make_path(const char* path)
{
    registry_node* node = &gRootNode;
    std::string rest = path;
    while (!rest.empty()) {
        size_t slash = rest.find('/');
        std::string name = rest.substr(0, slash);
        rest = slash == std::string::npos ? "" : rest.substr(slash + 1);
        registry_node* child = node->FindChild(name);
        if (child == nullptr) {
            child = new registry_node(name);
            node->AddChild(child);
        }
        node = child;
    }
    return node;
}

} // namespace

int main(int argc, char** argv)
{
    registry_load();
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "print") == 0) {
            gRootNode.PrintToStream(0);
        } else if (strcmp(argv[i], "origin") == 0) {
            const char* names[] = {"loaded", "default", "unread"};
            printf("%s\n", names[registry_start_origin()]);
        } else if (strcmp(argv[i], "create") == 0 && i + 1 < argc) {
            make_path(argv[++i]);
        } else if (strcmp(argv[i], "set") == 0 && i + 4 < argc) {
            registry_node* key = make_path(argv[i + 1]);
            const char* name = argv[i + 2];
            const char* kind = argv[i + 3];
            const char* text = argv[i + 4];
            i += 4;
            if (strcmp(kind, "dword") == 0) {
                int32 value = int32(strtol(text, nullptr, 0));
                key->SetValue(name, REG_DWORD, &value, 4);
            } else {
                key->SetValue(name, REG_BINARY, text, uint32(strlen(text)));
            }
        } else {
            fprintf(stderr, "registry_probe: bad command %s\n", argv[i]);
            return 2;
        }
    }
    registry_save();
    fflush(stdout);
    return 0;
}
