function ingresso(nome, valore)
  if nome == "Campo" and valore == "" then return "1" end
end
function valida(nome, valore, campi, annulla)
  if numero(valore) == nil then return valore, true end
end
function aggiorna(campo) return { "Campo" } end
function calcola(campo, campi) return math.floor((numero("2,5") or 0) * 3 + 0.5) end
