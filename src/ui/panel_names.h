// Names a screen reader gives a conversion panel and its controls: the panel by its file, the
// fields by what they hold rather than by the group they sit in.
#pragma once

class TfrmConvertItem;

// Called once the panel knows its file; again after a reload does no harm.
void NamePanelForScreenReaders(TfrmConvertItem &APanel);
