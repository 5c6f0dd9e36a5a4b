// The texture unit of every texture a program samples, in one table, so that no two textures one
// program reads share a unit. Units are only reused across programs that never run together: the
// full-screen passes, the sky and the terrain each bind their own before drawing, and each terrain
// surface's own textures take the units of the others'.
#pragma once

enum TextureUnit : int {
    // The final composition's scene colour, blurred bloom and bright pass; the blur's input.
    SCENE_COLOUR_UNIT = 0,
    BLOOM_UNIT = 1,
    BRIGHT_PASS_UNIT = 2,
    BLUR_INPUT_UNIT = 0,
    SKY_IMAGE_UNIT = 2,
    // The terrain's materials and drape, shared by every surface.
    MATERIALS_UNIT = 2,
    DRAPE_UNIT = 4,
    // Level of detail: the map's heights and the cells that touch a void.
    LOD_HEIGHTS_UNIT = 3,
    LOD_VOID_CELLS_UNIT = 5,
    // Streaming: the cache of tiles, the page table that finds them and how far each has faded in.
    TILE_CACHE_UNIT = 3,
    PAGE_TABLE_UNIT = 5,
    TILE_FADES_UNIT = 6,
    // The atmosphere's tables: the sky and the terrain read the first two beside their own
    // textures, the sky-view table's pass reads the last.
    TRANSMITTANCE_TABLE_UNIT = 7,
    SKY_VIEW_TABLE_UNIT = 8,
    MULTIPLE_SCATTERING_TABLE_UNIT = 9,
    // Sunlight on every surface: the shares of the sun's disc and of the sky each sample sees.
    SUN_SHARES_UNIT = 10,
    SKY_VISIBILITY_UNIT = 11,
};
