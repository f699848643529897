// Draws the test scene's pictures into a folder: "scenegen resources" remakes the sources.
#include "SceneArt.h"
#include "platform/Classes.h"

#include <cstdio>
#include <iostream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: scenegen FOLDER\n";
        return 2;
    }
    try {
        for (const ScenePicture& picture : ScenePictures()) {
            TMemoryStream bytes(picture.Draw().EncodeBmp());
            bytes.SaveToFile(std::string(argv[1]) + "/" + picture.FileName);
        }
    } catch (const Exception& e) {
        std::cerr << "scenegen: " << e.Message() << "\n";
        return 1;
    }
    return 0;
}
