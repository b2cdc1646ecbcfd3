/* Identifiers of the configuration dialog and its controls, shared by the
   resource script and the code. Plain C macros: windres's preprocessor reads
   this file too. */
#ifndef OCUVEX_DIALOG_CONTROL_IDS_H
#define OCUVEX_DIALOG_CONTROL_IDS_H

#define IDD_CONFIG 101

#ifndef IDOK
#define IDOK 1
#endif
#ifndef IDCANCEL
#define IDCANCEL 2
#endif

#define IDC_SWAP 1001
#define IDC_VERSION 1002
#define IDC_CENTER_WIDTH 1006
#define IDC_FILL_COLOR 1007
#define IDC_ALIGN_HORZ 1008
#define IDC_NOTES 1009
#define IDC_DEFAULT_VALUES 1010
#define IDC_CHOOSE_COLOR 1011
#define IDC_ALIGN_VERT 1012
#define IDC_CROP_X 1013
#define IDC_CROP_Y 1014
#define IDC_CROP_WIDTH 1015
#define IDC_CROP_HEIGHT 1016

/* The 18 coefficient edits: IDC_COEF_FIRST + 6 * row + column. */
#define IDC_COEF_FIRST 1570
#define IDC_COEF_COUNT 18

/* The radio buttons' ids are the ConversionMode values (core/modes.h). */

#endif
