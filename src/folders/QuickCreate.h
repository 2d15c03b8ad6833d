#pragma once

namespace quillary {

class FolderStore;
class Interaction;

// The card's "New Folder": asks for a name, creates that folder inside the quick-create parent and
// adds it to the list. A refusal (quick-create off, a name already listed, a folder that cannot be
// made) beeps; an empty name or a cancelled prompt does nothing.
void quickCreateFolder(FolderStore& folders, Interaction& interaction);

} // namespace quillary
