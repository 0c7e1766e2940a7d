-- Where the SubSpace dissector finds the game and its connections: the
-- ports of the preferences and of Decode As, a key exchange on any port
-- no other dissector claims, and Tessard's own capture, known by its
-- interface names whatever ports it carried. It also tells the sides of a
-- conversation apart where no key exchange did: the direction of each
-- record of the relay's capture, else the side on a game port is the
-- server. Loaded as a plugin by itself it only returns a function; the
-- dissector calls it with its protocol and the two ways of showing a
-- datagram.

return function(subspace, show)
  local locate = {}

  -- The game pair and the auxiliary pair, each at the relay's and at the
  -- server's default port. Decode As adds game ports.
  subspace.prefs.game_ports = Pref.range("Game ports", "382,15000",
                                         "UDP ports of the game pair, decrypted", 65535)
  subspace.prefs.auxiliary_ports = Pref.range("Auxiliary ports", "383,15001",
                                              "UDP ports of the auxiliary pair, shown as carried",
                                              65535)

  -- Tessard's own capture names its interfaces: "game" holds payloads it
  -- has already decrypted, "auxiliary" the auxiliary pair as carried.
  local interface_name = Field.new("frame.interface_name")
  -- Always there, except in a pass that builds no tree.
  local frame_number = Field.new("frame.number")
  -- A record's direction as the client sees it, from the capture's packet
  -- flags: sent (outbound) is c2s, received is s2c.
  local P2P_SENT, P2P_RECEIVED = 0, 1

  -- Ports of a range preference ("382,15000-15003") as a set.
  local function port_set(text)
    local set = {}
    for item in tostring(text):gmatch("[^,%s]+") do
      local first, last = item:match("^(%d+)-(%d+)$")
      first = tonumber(first or item)
      last = tonumber(last) or first
      if first ~= nil then
        for port = first, math.min(last, 65535) do set[port] = true end
      end
    end
    return set
  end

  local game_ports, auxiliary_ports = {}, {}
  local claimed_game, claimed_auxiliary
  local udp_ports = DissectorTable.get("udp.port")

  local function claim_ports()
    if claimed_game ~= nil then udp_ports:remove(claimed_game, subspace) end
    if claimed_auxiliary ~= nil then udp_ports:remove(claimed_auxiliary, subspace) end
    claimed_game, claimed_auxiliary = subspace.prefs.game_ports, subspace.prefs.auxiliary_ports
    game_ports, auxiliary_ports = port_set(claimed_game), port_set(claimed_auxiliary)
    udp_ports:add(claimed_game, subspace)
    udp_ports:add(claimed_auxiliary, subspace)
  end

  -- Key requests seen by the heuristic, waiting for their answer.
  local requests

  function locate.forget()
    requests = {}
  end
  locate.forget()

  local function endpoint(address, port)
    return tostring(address) .. ":" .. port
  end

  local function conversation_key(source, destination)
    return source < destination and source .. " " .. destination
           or destination .. " " .. source
  end

  local function direction_flag(pinfo)
    local flag = pinfo.p2p_dir
    if flag == P2P_SENT then return "c2s" elseif flag == P2P_RECEIVED then return "s2c" end
    return nil
  end

  -- The interface name of the frame that the capture wrapper below has
  -- just looked up (or, in a pass without a tree, guessed), so that it is
  -- read once a frame.
  local named_frame, frame_interface = nil, nil

  local function interface_of(pinfo)
    if named_frame == pinfo.number then return frame_interface end
    local name = interface_name()
    return name and name.value
  end

  local function auxiliary_direction(pinfo, name)
    if name == "auxiliary" then return direction_flag(pinfo) end
    local to_server = auxiliary_ports[pinfo.dst_port]
    local from_server = auxiliary_ports[pinfo.src_port]
    if to_server and not from_server then return "c2s" end
    if from_server and not to_server then return "s2c" end
    return nil
  end

  -- A game datagram's endpoints and what tells its direction before any
  -- key exchange has.
  local function game(tvb, pinfo, tree, length, plain)
    local source_port, destination_port = pinfo.src_port, pinfo.dst_port
    local hint
    if plain then
      hint = direction_flag(pinfo)
    elseif game_ports[destination_port] and not game_ports[source_port] then
      hint = "c2s"
    elseif game_ports[source_port] and not game_ports[destination_port] then
      hint = "s2c"
    end
    local source = endpoint(pinfo.src, source_port)
    local destination = endpoint(pinfo.dst, destination_port)
    return show.game(tvb, pinfo, tree, length, plain, conversation_key(source, destination),
                     source, hint)
  end

  function subspace.dissector(tvb, pinfo, tree)
    local length = tvb:reported_len()
    if length == 0 then return 0 end
    local name = interface_of(pinfo)
    if name == "auxiliary" then
      show.auxiliary(tvb, pinfo, tree, length, auxiliary_direction(pinfo, name))
      return length
    elseif name == "game" then
      return game(tvb, pinfo, tree, length, true)
    end
    local source_port, destination_port = pinfo.src_port, pinfo.dst_port
    if (auxiliary_ports[source_port] or auxiliary_ports[destination_port])
        and not (game_ports[source_port] or game_ports[destination_port]) then
      show.auxiliary(tvb, pinfo, tree, length, auxiliary_direction(pinfo, name))
      return length
    end
    -- A game port, a port given to this protocol by Decode As, or a
    -- conversation that its key exchange gave away.
    return game(tvb, pinfo, tree, length, false)
  end

  -- On any port no other dissector claims: a key request of exactly 8
  -- bytes is taken, and the key response that answers it the other way
  -- claims the whole conversation.
  local function heuristic(tvb, pinfo, tree)
    if pinfo.visited then
      if not show.known(pinfo.number) then return false end
      return subspace.dissector(tvb, pinfo, tree) > 0
    end
    if tvb:captured_len() < 2 or tvb(0, 1):uint() ~= 0 then return false end
    local type, length = tvb(1, 1):uint(), tvb:reported_len()
    if type == 0x01 and length == 8 then
      requests[endpoint(pinfo.src, pinfo.src_port) .. " " .. endpoint(pinfo.dst, pinfo.dst_port)]
        = true
    elseif not (type == 0x02 and length >= 6
                and requests[endpoint(pinfo.dst, pinfo.dst_port) .. " "
                             .. endpoint(pinfo.src, pinfo.src_port)]) then
      return false
    else
      pinfo.conversation = subspace
    end
    return subspace.dissector(tvb, pinfo, tree) > 0
  end

  -- Tessard's capture is game traffic whatever ports the relay used, also
  -- ports that Wireshark gives to other protocols: for each of its frames
  -- (raw IPv4, interfaces "game" and "auxiliary") the frame's two ports are
  -- this protocol's while UDP reads it, and theirs again afterwards.
  local encapsulations = DissectorTable.get("wtap_encap")
  local RAW_IP4 = wtap_encaps and wtap_encaps.RAW_IP4
  local raw_ip4 = RAW_IP4 and encapsulations:get_dissector(RAW_IP4)
  local tessard_capture = Proto("subspace_capture", "SubSpace relay capture")

  local function lend_port(port)
    local owner = udp_ports:get_dissector(port)
    if owner ~= nil and tostring(owner):lower() == "subspace" then return true end
    udp_ports:add(port, subspace)
    return owner or false
  end

  local function return_port(port, owner)
    if owner == true then return end
    udp_ports:remove(port, subspace)
    if owner then udp_ports:add(port, owner) end
  end

  -- IPv4 as Wireshark reads it. An exception of another protocol's
  -- dissector (a malformed packet) is already shown in its tree, as
  -- Wireshark shows it without this wrapper: it is not raised again.
  local function read_ip4(tvb, pinfo, tree)
    local ok, result = pcall(raw_ip4.call, raw_ip4, tvb, pinfo, tree)
    if not ok then return tvb:captured_len() end
    return result
  end

  function tessard_capture.dissector(tvb, pinfo, tree)
    local name = interface_name()
    name = name and name.value
    local blind = name == nil and frame_number() == nil
    if blind and pinfo.p2p_dir ~= -1 then
      -- A pass without a tree cannot see the interface names, but every
      -- record of the relay's capture has its direction, which network
      -- captures seldom carry: such a record is the relay's, on the game
      -- interface unless on an auxiliary port.
      name = "game"
    end
    named_frame, frame_interface = pinfo.number, name
    if (name ~= "game" and name ~= "auxiliary") or tvb:captured_len() < 28 then
      return read_ip4(tvb, pinfo, tree)
    end
    local header = tvb(0, 1):uint()
    local length = header % 16 * 4
    if header < 69 or header >= 80 or tvb(9, 1):uint() ~= 17
        or tvb:captured_len() < length + 4 then
      return read_ip4(tvb, pinfo, tree)
    end
    local source_port, destination_port = tvb(length, 2):uint(), tvb(length + 2, 2):uint()
    if blind and (auxiliary_ports[source_port] or auxiliary_ports[destination_port]) then
      frame_interface = "auxiliary"
    end
    local source_owner, destination_owner = lend_port(source_port), lend_port(destination_port)
    local result = read_ip4(tvb, pinfo, tree)
    return_port(destination_port, destination_owner)
    return_port(source_port, source_owner)
    return result
  end

  function locate.register()
    claim_ports()
    subspace:register_heuristic("udp", heuristic)
    if raw_ip4 ~= nil then encapsulations:add(RAW_IP4, tessard_capture) end
  end
  locate.claim_ports = claim_ports

  return locate
end
