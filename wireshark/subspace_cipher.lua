-- The game cipher for the SubSpace dissector: the key table that a server
-- key determines and the decrypt transform of one datagram. Plain Lua with
-- no Wireshark in it, so that stand-alone interpreters can check it against
-- the relay's own cipher. Runs on Lua 5.1 and 5.2 (numbers are doubles,
-- XOR comes from bit or bit32) and on Lua 5.3 and later (64-bit integers,
-- native XOR).
--
-- Every value here is an unsigned 32-bit number held in a Lua number.
-- Sums and products stay below 2^53, so they are exact as doubles too;
-- the one 64-bit product, the generator's quotient, is taken in 16-bit
-- halves for that reason.

local cipher = {}

-- The largest payload the transform accepts: the size of the key table.
cipher.MAX_PAYLOAD = 520

local TWO16 = 65536
local TWO32 = 4294967296
local floor = math.floor

-- XOR of three 32-bit values. Lua 5.3 and later have the operator (a
-- chunk of its own, which Lua 5.2 could not even parse); Lua 5.2 has
-- bit32, which Lua 5.4 builds lack; Lua 5.1 has neither, but Wireshark
-- gives it the bit module, whose results are signed.
local bxor3
if math.type ~= nil then
  bxor3 = load("return function(a, b, c) return a ~ b ~ c end")()
elseif bit32 ~= nil then
  bxor3 = bit32.bxor
else
  local bxor = bit.bxor
  bxor3 = function(a, b, c) return bxor(a, b, c) % 4294967296 end
end

-- The quotient multiplier of the table generator, 0x834E0B5F, in halves.
local MUL_HIGH = 0x834E
local MUL_LOW = 0x0B5F

-- One step of the table generator from state s (0 to 2^32 - 1): the new
-- state. Park-Miller's multiplier 16807 modulo 2^31 - 1 by Schrage's
-- decomposition, 123 added, and the quotient by 127773 formed as the top
-- 16 bits of s * 0x834E0B5F read as a signed 64-bit number. For states of
-- 0xF98E7FFF and more that product has its top bit set and the quotient
-- turns negative; the protocol's table depends on it.
function cipher.next_table_state(s)
  local high = floor(s / TWO16)
  local low = s % TWO16
  -- s * M = high*MUL_HIGH * 2^32 + (high*MUL_LOW + low*MUL_HIGH) * 2^16 + low*MUL_LOW
  local lower = (high * MUL_LOW + low * MUL_HIGH) * TWO16 + low * MUL_LOW  -- below 2^50
  local top = high * MUL_HIGH + floor(lower / TWO32)  -- the product's bits 32 to 63
  local q = floor(top / TWO16)                        -- bits 48 to 63
  if q >= 32768 then
    -- Negative after the arithmetic shift (q - 65536), and then 1 added.
    q = q - 65535
  end
  local n = (16807 * (s % 127773) - 2836 * q + 123) % TWO32
  if n > 0x7FFFFFFF then n = (n + 0x7FFFFFFF) % TWO32 end
  return n
end

-- The session a server key sets up, or nil for no encryption: a server
-- key equal to the client's, or 0. Keys are signed or unsigned 32-bit numbers.
-- session.key is the key as unsigned, session.words the 130 words of the
-- key table (words[1] is word 0): entry 2i in the low half, 2i + 1 in the
-- high half, each entry the low 16 bits of one generator state.
function cipher.session(server_key, client_key)
  server_key = server_key % TWO32
  if server_key == 0 or (client_key ~= nil and server_key == client_key % TWO32) then
    return nil
  end
  local words = {}
  local state = server_key
  for i = 1, cipher.MAX_PAYLOAD / 4 do
    state = cipher.next_table_state(state)
    local low = state % TWO16
    state = cipher.next_table_state(state)
    words[i] = low + (state % TWO16) * TWO16
  end
  return {key = server_key, words = words}
end

-- The size of the datagram's clear header: 2 when it starts with 0x00 and
-- has two bytes, 1 otherwise, 0 when it is empty.
function cipher.header_size(first_byte, length)
  if length == 0 then return 0 end
  if first_byte == 0 and length >= 2 then return 2 end
  return 1
end

local byte, char, unpack = string.byte, string.char, table.unpack or unpack

-- The payload decrypted: the chain starts from the session key, every
-- ciphertext word is XORed with its key table word and the ciphertext word
-- before it. A partial last word is taken with zeros after its bytes, and
-- only its own bytes are kept, so a prefix of a payload decrypts to the
-- prefix of its plaintext (a capture cut short still decrypts as far as it
-- goes). The payload must not be longer than MAX_PAYLOAD.
-- Words read and written a whole datagram at a time where the Lua has a
-- packer: string.pack in Lua 5.3 and later, Wireshark's Struct in its Lua
-- 5.1 and 5.2. A call for all words costs less than arithmetic on each
-- byte, and decryption is most of what a datagram costs to read.
local unpack_words, pack_words = nil, nil
if string.unpack ~= nil then
  unpack_words, pack_words = string.unpack, string.pack
elseif Struct ~= nil then
  unpack_words, pack_words = Struct.unpack, Struct.pack
end
local load_text = loadstring or load

-- A datagram is decrypted by one unpack of its header and all its words,
-- and one pack of the header and the words decrypted, with no copy of the
-- text between them. A partial last word is read as a number of its own
-- bytes (zeros above them) and written back as that many bytes. The pack
-- format and what the last word keeps are made per header and payload
-- size; the decrypter is shared by all sizes of one word count (fewer
-- functions to keep in the processor's cache) and, up to a count that
-- Lua's registers hold, written out word by word, without the table and
-- the loop that cost more than the words' own arithmetic.
local MAX_WRITTEN_OUT = 64
local decrypters = {{}, {}}  -- without a header, with one; by word count

local function decrypter(headed, count)
  if count > MAX_WRITTEN_OUT then
    local first = headed and 2 or 1  -- the header is the first value
    local last = first + count - 1
    return function(text, words, chain, format, keep)
      local w = {unpack_words(format, text)}
      for i = first, last do
        local word = w[i]
        w[i] = bxor3(word, words[i - first + 1], chain)
        chain = word
      end
      w[last] = w[last] % keep
      return pack_words(format, unpack(w, 1, last))
    end
  end
  local names, results = {}, {}
  if headed then
    names[1], results[1] = "header", "header"
  end
  for i = 1, count do
    names[#names + 1] = "c" .. i
    results[#results + 1] = string.format("x(c%d, k[%d], %s)", i, i,
                                          i == 1 and "chain" or "c" .. (i - 1))
  end
  results[#results] = results[#results] .. " % keep"
  local source = "local unpack_words, pack_words, x = ...\n"
                 .. "return function(text, k, chain, format, keep)\n"
                 .. "  local " .. table.concat(names, ", ") .. " = unpack_words(format, text)\n"
                 .. "  return pack_words(format, " .. table.concat(results, ", ") .. ")\n"
                 .. "end\n"
  return load_text(source)(unpack_words, pack_words, bxor3)
end

-- How a payload of size bytes after a header of skip bytes is decrypted:
-- its decrypter, its pack format, and the modulus its last word keeps.
local shapes = {}

local function shape_of(skip, size)
  local whole, rest = floor(size / 4), size % 4
  local count = whole + (rest > 0 and 1 or 0)
  local by_count = decrypters[skip > 0 and 2 or 1]
  local decrypt = by_count[count]
  if decrypt == nil then
    decrypt = decrypter(skip > 0, count)
    by_count[count] = decrypt
  end
  local format = "<" .. (skip > 0 and "c" .. skip or "") .. string.rep("I4", whole)
                 .. (rest > 0 and "I" .. rest or "")
  return {decrypt = decrypt, format = format, keep = rest > 0 and floor(256 ^ rest) or TWO32}
end

-- The bytes of text after its first skip bytes decrypted, with those
-- first bytes before them as they are.
local function decrypt_packed(session, text, skip)
  local size = #text - skip
  local key = skip * 1024 + size
  local shape = shapes[key]
  if shape == nil then
    shape = shape_of(skip, size)
    shapes[key] = shape
  end
  return shape.decrypt(text, session.words, session.key, shape.format, shape.keep)
end

-- The payload is what follows the first skip bytes of text (its clear
-- header); returns the whole text, those bytes as they are.
function cipher.decrypt_after(session, text, skip)
  local size = #text - skip
  if size <= 0 then return text end
  if unpack_words ~= nil then return decrypt_packed(session, text, skip) end
  local words = session.words
  local chain = session.key
  -- All bytes in one call, and zeros after a partial last word; each word
  -- is read from this table and its result written back in its place.
  local b = {byte(text, skip + 1, skip + size)}
  for i = size + 1, size + (4 - size % 4) % 4 do b[i] = 0 end
  local j = 1
  for i = 1, size, 4 do
    local word = b[i] + b[i + 1] * 256 + b[i + 2] * 65536 + b[i + 3] * 16777216
    local x = bxor3(word, words[j], chain)
    chain = word
    j = j + 1
    local y = x % 256
    b[i] = y
    x = (x - y) / 256
    y = x % 256
    b[i + 1] = y
    x = (x - y) / 256
    y = x % 256
    b[i + 2] = y
    b[i + 3] = (x - y) / 256
  end
  if skip == 0 then return char(unpack(b, 1, size)) end
  return text:sub(1, skip) .. char(unpack(b, 1, size))
end

-- A whole datagram as the relay's cipher decrypts it: the header stays, the
-- payload is decrypted. Unchanged without a session, when empty, or when
-- the payload is longer than the key table.
function cipher.decrypt(session, datagram)
  local header = cipher.header_size(byte(datagram, 1) or 0, #datagram)
  if session == nil or header == 0 or #datagram - header > cipher.MAX_PAYLOAD then
    return datagram
  end
  return cipher.decrypt_after(session, datagram, header)
end

return cipher
