/* The configuration dialog's box and the kinds of its controls, as the
   template stores them: plain C macros, read by the resource compiler
   (resources/config_dialog.rc) and by C++ (dialog/config_template.h). */
#ifndef OCUVEX_DIALOG_CONFIG_LAYOUT_H
#define OCUVEX_DIALOG_CONFIG_LAYOUT_H

#define OCUVEX_DIALOG_CAPTION "VirtualDUB Ocuvex Filter"
#define OCUVEX_DIALOG_STYLE 0x80C800C0
#define OCUVEX_DIALOG_WIDTH 576
#define OCUVEX_DIALOG_HEIGHT 258
#define OCUVEX_DIALOG_FONT_SIZE 8
#define OCUVEX_DIALOG_FONT "MS Sans Serif"

/* Each kind is a window class and the style word stored for it, written in
   full: the resource script's CONTROL statements store it exactly so (its
   shorthand statements would add bits of their own). */
#define OCUVEX_CHECK_BOX "Button", 0x50010003
#define OCUVEX_FIRST_RADIO "Button", 0x50020009 /* starts the group of radio buttons */
#define OCUVEX_RADIO "Button", 0x50000009
#define OCUVEX_LABEL "Static", 0x50020000
#define OCUVEX_EDIT "Edit", 0x50810080
#define OCUVEX_BUTTON "Button", 0x50010000
#define OCUVEX_DEFAULT_BUTTON "Button", 0x50010001
#define OCUVEX_GROUP_BOX "Button", 0x50000007
#define OCUVEX_PANEL "Static", 0x50821080

#endif
