#pragma once

class ManagedMediaGallery;

// The gallery paints its tiles, so it gives screen readers the elements they would find in a view of widgets: its
// viewport is a list with one element per tile drawn, a button named "照片，name" or "视频，name" that says how it
// previews ("双击或按空格键预览") and offers the actions "预览" and "下载到电脑".
namespace ManagedMediaGalleryAccessible {

// Makes every gallery's viewport answer with that list; the first gallery created calls it.
void install();

} // namespace ManagedMediaGalleryAccessible
