-- Where the SubSpace dissector finds the game and its connections: the
-- ports of the preferences and of Decode As, a key exchange on any port
-- no other dissector claims, and Tessard's own capture, known by its
-- interface names whatever ports it carried. It also tells the sides of a
-- conversation apart where no key exchange did: the direction of each
-- record of the relay's capture, else the side on a game port is the
-- server. Loaded as a plugin by itself it only returns a function; the
-- dissector calls it with its protocol, the two ways of showing a
-- datagram, the decisions already made and the decimal texts of numbers.

return function(subspace, show)
  local locate = {}
  local byte = string.byte
  -- Called as functions: a method looked up on its object costs a call
  -- into Wireshark of its own, on every frame.
  local raw, reported_len, captured_len = Tvb.raw, Tvb.reported_len, Tvb.captured_len
  local dissector_call = Dissector.call

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
  -- A record's direction as the client sees it, from the capture's packet
  -- flags: sent (outbound) is c2s, received is s2c.
  local P2P_SENT, P2P_RECEIVED, P2P_UNKNOWN = 0, 1, -1

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

  -- Key requests seen by the heuristic, waiting for their answer; the
  -- server ports of the relay capture's game pairs; the endpoints of the
  -- last two senders, the last one's frame with them (see endpoints below).
  local requests, relay_game_ports
  local last, before

  function locate.forget()
    requests, relay_game_ports = {}, {}
    last, before = {}, {}
  end
  locate.forget()

  local decimal = show.decimal  -- a number turned into text costs a format

  local function conversation_key(source, destination)
    return source < destination and source .. " " .. destination
           or destination .. " " .. source
  end

  -- A datagram's two endpoints as texts, and its conversation's, made once
  -- although both the heuristic and the conversation ask (the frame and
  -- ports tell a tunnelled datagram of the same frame apart). The last two
  -- senders' are kept with their addresses: two addresses cost less to
  -- compare than to turn into texts, and most datagrams answer the one
  -- before or follow it.
  local function endpoints(pinfo, number, source_port, destination_port)
    local ports = source_port * 65536 + destination_port
    if last.frame ~= number or last.ports ~= ports then
      local source, destination = pinfo.src, pinfo.dst
      if last.ports ~= ports or last.source_address ~= source
          or last.destination_address ~= destination then
        local again = before.ports == ports and before.source_address == source
                      and before.destination_address == destination
        last, before = before, last
        if not again then
          last.ports, last.source_address, last.destination_address = ports, source, destination
          last.source = tostring(source) .. ":" .. decimal(source_port)
          last.destination = tostring(destination) .. ":" .. decimal(destination_port)
          last.key = conversation_key(last.source, last.destination)
        end
      end
      last.frame = number
    end
    return last.source, last.destination, last.key
  end

  local function direction_flag(pinfo)
    local flag = pinfo.p2p_dir
    if flag == P2P_SENT then return "c2s" elseif flag == P2P_RECEIVED then return "s2c" end
    return nil
  end

  -- The interface of the record that the capture wrapper below is reading.
  local named_frame, frame_interface = nil, nil

  local function interface_of(number)
    if named_frame == number then return frame_interface end
    return nil
  end

  local function auxiliary_direction(pinfo, name, source_port, destination_port)
    if name == "auxiliary" then return direction_flag(pinfo) end
    local to_server = auxiliary_ports[destination_port]
    local from_server = auxiliary_ports[source_port]
    if to_server and not from_server then return "c2s" end
    if from_server and not to_server then return "s2c" end
    return nil
  end

  -- A game datagram's conversation (its two endpoints, in either order),
  -- its sender, and what tells its direction before any key exchange has.
  -- Asked on the first pass only, about the datagram being dissected.
  local frame_number, frame_source_port, frame_destination_port
  local function whence(pinfo, plain)
    local source_port, destination_port = frame_source_port, frame_destination_port
    local hint
    if plain then
      hint = direction_flag(pinfo)
    else
      if game_ports[destination_port] and not game_ports[source_port] then
        hint = "c2s"
      elseif game_ports[source_port] and not game_ports[destination_port] then
        hint = "s2c"
      end
    end
    local source, _, key = endpoints(pinfo, frame_number, source_port, destination_port)
    return key, source, hint
  end

  -- The frame's number and ports are read once, by whoever asks first:
  -- each read is a call into Wireshark.
  local function dissect(tvb, pinfo, tree, number, source_port, destination_port)
    local length = reported_len(tvb)
    if length == 0 then return 0 end
    frame_number, frame_source_port, frame_destination_port = number, source_port,
                                                               destination_port
    local name = interface_of(number)
    if name == "auxiliary" then
      show.auxiliary(tvb, pinfo, tree, length,
                     auxiliary_direction(pinfo, name, source_port, destination_port))
      return length
    elseif name == "game" then
      return show.game(tvb, pinfo, tree, length, true, whence, number)
    end
    if (auxiliary_ports[source_port] or auxiliary_ports[destination_port])
        and not (game_ports[source_port] or game_ports[destination_port]) then
      show.auxiliary(tvb, pinfo, tree, length,
                     auxiliary_direction(pinfo, name, source_port, destination_port))
      return length
    end
    -- A game port, a port given to this protocol by Decode As, or a
    -- conversation that its key exchange gave away.
    return show.game(tvb, pinfo, tree, length, false, whence, number)
  end

  function subspace.dissector(tvb, pinfo, tree)
    return dissect(tvb, pinfo, tree, pinfo.number, pinfo.src_port, pinfo.dst_port)
  end

  -- On any port no other dissector claims: a key request of exactly 8
  -- bytes is taken, and the key response that answers it the other way
  -- claims the whole conversation.
  local function heuristic(tvb, pinfo, tree)
    local number = pinfo.number
    if pinfo.visited then
      if not show.known(number) then return false end
      return dissect(tvb, pinfo, tree, number, pinfo.src_port, pinfo.dst_port) > 0
    end
    if captured_len(tvb) < 2 then return false end
    local first, type = byte(raw(tvb, 0, 2), 1, 2)
    if first ~= 0 then return false end
    local length = reported_len(tvb)
    local source_port, destination_port = pinfo.src_port, pinfo.dst_port
    local source, destination = endpoints(pinfo, number, source_port, destination_port)
    if type == 0x01 and length == 8 then
      requests[source .. " " .. destination] = true
    elseif not (type == 0x02 and length >= 6 and requests[destination .. " " .. source]) then
      return false
    else
      pinfo.conversation = subspace
    end
    return dissect(tvb, pinfo, tree, number, source_port, destination_port) > 0
  end

  -- Tessard's capture is game traffic whatever ports the relay used, also
  -- ports that Wireshark gives to other protocols: for each of its records
  -- (raw IPv4, interfaces "game" and "auxiliary") the two ports are this
  -- protocol's while UDP reads it, and theirs again afterwards. A pass
  -- that builds no tree (tshark -2 without a filter) cannot read interface
  -- names; it knows the relay's records by how the relay frames them (raw
  -- IPv4 with identification, flags and UDP checksum all 0) and by the
  -- direction that each of them carries and network captures seldom do.
  local encapsulations = DissectorTable.get("wtap_encap")
  local RAW_IP4 = wtap_encaps and wtap_encaps.RAW_IP4
  local raw_ip4 = RAW_IP4 and encapsulations:get_dissector(RAW_IP4)
  local tessard_capture = Proto("subspace_capture", "SubSpace relay capture")

  -- The relay's interface of a record ("game" or "auxiliary") where its
  -- name cannot be read: the auxiliary pair is on an auxiliary port, or one
  -- above the server port of a game pair seen before (the relay and the
  -- server both put it there). The server's side is the destination of
  -- what the client sends, the source of what it receives.
  local function guess_interface(pinfo, source_port, destination_port)
    local server = pinfo.p2p_dir == P2P_SENT and destination_port or source_port
    if auxiliary_ports[source_port] or auxiliary_ports[destination_port]
        or (relay_game_ports[server - 1] and not relay_game_ports[server]) then
      return "auxiliary"
    end
    relay_game_ports[server] = true
    return "game"
  end

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
    local ok, result = pcall(dissector_call, raw_ip4, tvb, pinfo, tree)
    if not ok then return captured_len(tvb) end
    return result
  end

  -- The relay writes a direction into every record, so a record without
  -- one is not the relay's, whatever its interface: most records of other
  -- captures are passed on without reading their interface's name, which
  -- costs a look through the frame's tree.
  function tessard_capture.dissector(tvb, pinfo, tree)
    frame_interface = nil
    if pinfo.p2p_dir == P2P_UNKNOWN then
      named_frame = nil
      return read_ip4(tvb, pinfo, tree)
    end
    named_frame = pinfo.number
    if captured_len(tvb) < 28 then return read_ip4(tvb, pinfo, tree) end
    local name = interface_name()
    name = name and name.value
    if name ~= nil and name ~= "game" and name ~= "auxiliary" then
      return read_ip4(tvb, pinfo, tree)
    end
    -- The IPv4 header's version, identification, flags and protocol; the
    -- UDP header's ports and checksum.
    local headers = raw(tvb, 0, 28)
    local version, _, _, _, id1, id2, fragment1, fragment2, _, protocol = byte(headers, 1, 10)
    local source1, source2, destination1, destination2, _, _, checksum1, checksum2 =
      byte(headers, 21, 28)
    if version ~= 0x45 or protocol ~= 17
        or (name == nil and (id1 + id2 + fragment1 + fragment2 + checksum1 + checksum2 ~= 0)) then
      return read_ip4(tvb, pinfo, tree)
    end
    local source_port, destination_port = source1 * 256 + source2, destination1 * 256 + destination2
    frame_interface = name or guess_interface(pinfo, source_port, destination_port)
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
