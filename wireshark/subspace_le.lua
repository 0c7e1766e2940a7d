-- Little-endian words for the SubSpace dissector's modules: the protocol's
-- numbers are all little-endian, and every module reads them through this
-- one reader. Plain Lua (5.1 to 5.4); loaded as a plugin by itself it only
-- returns this table.

local le = {}

local byte = string.byte

-- The unsigned 32-bit number at position at (1-based) of text; nil where
-- text ends before its four bytes.
function le.u32(text, at)
  local a, b, c, d = byte(text, at, at + 3)
  if d == nil then return nil end
  return a + b * 256 + c * 65536 + d * 16777216
end

-- The same, signed.
function le.s32(text, at)
  local value = le.u32(text, at)
  if value ~= nil and value >= 2147483648 then value = value - 4294967296 end
  return value
end

return le
